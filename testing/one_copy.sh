#!/bin/sh
# Each function and object of ours is defined once in a process: the code the hosts and the
# plug-in module share is exported by the shared libraries only, and neither a program nor the
# module carries a copy of it. Usage: one_copy.sh <shared library>... -- <program or module>...
# Prints every symbol found twice and fails then.
set -eu
exported=$(mktemp)
duplicates=$(mktemp)
trap 'rm -f "$exported" "$duplicates"' EXIT

while [ "$1" != "--" ]; do
  nm -C -D --defined-only "$1" | awk '$2 ~ /^[TDBR]$/ { $1 = ""; $2 = ""; print substr($0, 3) }' \
    >> "$exported"
  shift
done
shift
sort -u -o "$exported" "$exported"

for binary in "$@"; do
  [ -n "$binary" ] || continue  # a program this build leaves out
  # Local symbols count too: a module may hide a copy it carries.
  nm -C --defined-only "$binary" | awk '$2 ~ /^[tTdDbBrR]$/ { $1 = ""; $2 = ""; print substr($0, 3) }' |
    grep '^marigold::' | sort -u | comm -12 - "$exported" | sed "s|^|$(basename "$binary"): |" \
    >> "$duplicates" || true
done

if [ -s "$duplicates" ]; then
  echo "defined both in a shared library and in a program or the module:"
  cat "$duplicates"
  exit 1
fi
echo "each of $(wc -l < "$exported") shared symbols is defined once"
