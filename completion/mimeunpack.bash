# bash completion for mimeunpack: its options, the directory after -C, any
# file after -t, and archives (.mht and .mhtml files, and directories on the
# way to them) everywhere else. Installed as
# share/bash-completion/completions/mimeunpack.

_mimeunpack_archives() {
  local cur=$1 entry entries
  compopt -o filenames 2>/dev/null
  mapfile -t entries < <(compgen -f -- "$cur")
  for entry in "${entries[@]}"; do
    if [[ -d $entry ]]; then
      COMPREPLY+=("$entry")
    else
      case ${entry,,} in
        *.mht | *.mhtml) COMPREPLY+=("$entry") ;;
      esac
    fi
  done
}

_mimeunpack() {
  local cur=${COMP_WORDS[COMP_CWORD]} prev=${COMP_WORDS[COMP_CWORD - 1]}
  local i
  COMPREPLY=()
  # bash splits "--table=x" at "=": complete x as the option's value.
  if [[ $cur == = && $prev == --* ]]; then
    cur=
  elif [[ $prev == = && COMP_CWORD -ge 2 ]]; then
    prev=${COMP_WORDS[COMP_CWORD - 2]}
  fi
  for ((i = 1; i < COMP_CWORD; i++)); do
    if [[ ${COMP_WORDS[i]} == -- ]]; then
      _mimeunpack_archives "$cur"
      return
    fi
  done
  case $prev in
    -C | --directory)
      compopt -o filenames 2>/dev/null
      mapfile -t COMPREPLY < <(compgen -d -- "$cur")
      return
      ;;
    --only)
      # A list of types: the usual families, each with its wildcard.
      local types="image/* text/* text/html text/css font/* application/*"
      mapfile -t COMPREPLY < <(compgen -W "$types" -- "$cur")
      return
      ;;
    -t | --table)
      compopt -o filenames 2>/dev/null
      mapfile -t COMPREPLY < <(compgen -f -- "$cur")
      return
      ;;
  esac
  if [[ $cur == -* ]]; then
    mapfile -t COMPREPLY < <(compgen -W '-C --directory -d --dir-per-archive
      -t --table -l --list -q --quiet -a --any-layout --offline --json -k
      --keep-going -n --no-clobber --only --single-file --no-network --progress
      -h --help
      -V --version --' -- "$cur")
    return
  fi
  _mimeunpack_archives "$cur"
}

complete -F _mimeunpack mimeunpack
