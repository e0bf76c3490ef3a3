# bash completion for marigold(1): commands, options, post states, and image files for post.
_marigold() {
  local cur prev words cword
  if declare -F _init_completion >/dev/null; then
    _init_completion || return
  else  # without the bash-completion package: the plain words, files by compgen
    cur=${COMP_WORDS[COMP_CWORD]} prev=${COMP_WORDS[COMP_CWORD - 1]} cword=$COMP_CWORD
    words=("${COMP_WORDS[@]}")
  fi
  local commands="post outbox login logout blogs status demo json sign version help"
  local account="--user --password-stdin --remember --quiet --json --help"
  if [[ $cword -eq 1 ]]; then
    COMPREPLY=($(compgen -W "$commands --help --version" -- "$cur"))
    return
  fi
  case $prev in
    --state | -s)
      COMPREPLY=($(compgen -W "Published Draft Queue Private" -- "$cur"))
      return ;;
    --caption-file)
      _filedir
      return ;;
    --size)
      COMPREPLY=($(compgen -W "fit original 2048 1280 1024" -- "$cur"))
      return ;;
    --user | -u | --blog | -b | --caption | -c | --tags | -t | --link | -l | --quality | --max-depth | \
      --url | --consumer-key | --consumer-secret | --method | --token | --token-secret | \
      --realm | --nonce | --timestamp | --signature-method | --param)
      return ;;
  esac
  case ${words[1]} in
    post)
      if [[ $cur == -* ]]; then
        COMPREPLY=($(compgen -W "--blog --caption --caption-file --tags --link --state --size
          --quality --keep-location --keep-metadata --strip-metadata --later $account" -- "$cur"))
      else
        _filedir '@(jpg|jpeg|JPG|JPEG|png|PNG|gif|GIF|tif|tiff|TIF|TIFF|heic|HEIC)'
      fi ;;
    outbox)
      if [[ $cword -eq 2 ]]; then
        COMPREPLY=($(compgen -W "send drop --json --quiet --help" -- "$cur"))
      elif [[ ${words[2]} == send ]]; then
        COMPREPLY=($(compgen -W "--not-posted --json --quiet --help" -- "$cur"))
      else
        COMPREPLY=($(compgen -W "--quiet --help" -- "$cur"))
      fi ;;
    login) COMPREPLY=($(compgen -W "$account" -- "$cur")) ;;
    blogs) COMPREPLY=($(compgen -W "$account" -- "$cur")) ;;
    status) COMPREPLY=($(compgen -W "--quiet --json --help" -- "$cur")) ;;
    json)
      if [[ $cur == -* ]]; then
        COMPREPLY=($(compgen -W "--pretty --sort-keys --max-depth --help" -- "$cur"))
      else
        _filedir
      fi ;;
    sign)
      COMPREPLY=($(compgen -W "--url --consumer-key --consumer-secret --method --token
        --token-secret --realm --nonce --timestamp --signature-method --param --help" -- "$cur")) ;;
    *) COMPREPLY=($(compgen -W "--help" -- "$cur")) ;;
  esac
}
declare -F _filedir >/dev/null || _filedir() {
  local IFS=$'\n'
  if [[ -n $1 ]]; then
    shopt -s extglob  # as bash-completion has it: the pattern is an extended glob
    COMPREPLY=($(compgen -d -- "$cur") $(compgen -f -X "!*.$1" -- "$cur"))
  else
    COMPREPLY=($(compgen -f -- "$cur"))
  fi
}
complete -o filenames -F _marigold marigold
