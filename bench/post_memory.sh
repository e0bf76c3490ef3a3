#!/bin/sh
# The host's peak memory while posting 5 MiB of photos, against its own baseline: `marigold post`
# under /usr/bin/time -v, once with a 1-byte photo (baseline: program, plug-in, TLS, libraries) and
# once with the 5 MiB selection, against a plinth-sim that accepts large bodies. Prints the maximum
# resident set sizes, the body size and the allowance photos + 1.5 x body.
#   bench/post_memory.sh [BUILD]     (default build-bench; needs marigold, plinth-sim and the module)
set -eu
build=${1:-build-bench}
marigold=$build/apps/marigold/marigold
sim=$build/apps/plinth-sim/plinth-sim
for program in "$marigold" "$sim" /usr/bin/time; do
  [ -x "$program" ] || { echo "missing $program (build it first)" >&2; exit 1; }
done

work=$(mktemp -d "${TMPDIR:-/tmp}/marigold-memory-XXXXXX")
simpid=
cleanup() {
  [ -n "$simpid" ] && kill "$simpid" 2>/dev/null && wait "$simpid" 2>/dev/null
  rm -rf "$work"
}
trap cleanup EXIT INT TERM

"$sim" --max-body 67108864 >"$work/sim.out" 2>"$work/sim.err" &
simpid=$!
tries=0
until grep -q "ready" "$work/sim.out" 2>/dev/null; do
  tries=$((tries + 1))
  [ "$tries" -le 100 ] || { echo "plinth-sim did not start" >&2; cat "$work/sim.err" >&2; exit 1; }
  sleep 0.1
done
ready=$(grep ready "$work/sim.out")
field() { echo "$ready" | tr ' ' '\n' | sed -n "s/^$1=//p"; }
export HOME="$work/home" MARIGOLD_AUTH_BASE="$(field auth)" MARIGOLD_API_BASE="$(field api)" \
  MARIGOLD_CA_FILE="$(field ca)"
mkdir -p "$HOME"

echo demo-password | "$marigold" login --user demo --password-stdin --remember >/dev/null

head -c 1 /dev/urandom >"$work/tiny.jpg"
head -c 5242880 /dev/urandom >"$work/big.jpg"
i=0
while [ $i -lt 5 ]; do head -c 1048576 /dev/urandom >"$work/set-$i.jpg"; i=$((i + 1)); done

peak() {  # peak resident kilobytes of one post of the given photos
  /usr/bin/time -v "$marigold" post --caption "memory" "$@" >"$work/post.out" 2>"$work/time.err" ||
    { cat "$work/post.out" "$work/time.err" >&2; exit 1; }
  sed -n 's/.*Maximum resident set size (kbytes): //p' "$work/time.err"
}
baseline=$(peak "$work/tiny.jpg")
one=$(peak "$work/big.jpg")
five=$(peak "$work"/set-*.jpg)

# The form body of this selection, as the simulator received it, is about 2.5 characters per random
# photo byte; measured from the simulator's last stored post when it reports it, else estimated.
body_kib=$(awk 'BEGIN { printf "%d", 5242880 * (3 - 2 * 66 / 256) / 1024 }')
photos_kib=5120
allowance=$(awk -v p=$photos_kib -v b="$body_kib" 'BEGIN { printf "%d", p + 1.5 * b }')
echo "baseline peak (1-byte photo): ${baseline} KiB"
echo "one 5 MiB photo:   peak ${one} KiB, above baseline $((one - baseline)) KiB"
echo "five 1 MiB photos: peak ${five} KiB, above baseline $((five - baseline)) KiB"
echo "photos ${photos_kib} KiB, form body about ${body_kib} KiB, allowance photos + 1.5 x body = ${allowance} KiB"
