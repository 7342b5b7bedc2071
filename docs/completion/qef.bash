# bash completion for qef: its commands, their options and the options' values.
_qef() {
  local cur prev words cword
  _init_completion || return

  local commands="pack extract list test info"
  local command="" i
  for ((i = 1; i < cword; i++)); do
    case ${words[i]} in
      pack | extract | list | test | info) command=${words[i]}; break ;;
    esac
  done

  case $prev in
    --cipher) COMPREPLY=($(compgen -W "aes blowfish" -- "$cur")); return ;;
    --compression) COMPREPLY=($(compgen -W "best fast store" -- "$cur")); return ;;
    --windows) COMPREPLY=($(compgen -W "32 64" -- "$cur")); return ;;
    --codepage)
      COMPREPLY=($(compgen -W "1252 1250 1251 1253 1254 1255 1256 1257 1258 874 932 936 949 950 437 850 65001 raw" -- "$cur"))
      return ;;
    --jobs | --threads | --link | --timestamp | --exclude) return ;;
    -o | --output | --stub | --info | --disclaimer | --password-file | --sign-password-file | --exclude-from)
      _filedir; return ;;
    --picture) _filedir bmp; return ;;
    --sign-pkcs12) _filedir '@(p12|pfx)'; return ;;
    -C | --directory) _filedir -d; return ;;
  esac

  if [[ -z $command ]]; then
    COMPREPLY=($(compgen -W "$commands --help --version" -- "$cur"))
    return
  fi

  local common="--password-file --codepage -q --quiet --help"
  local options
  case $command in
    pack)
      options="-o --output --cipher --compression --jobs --stub --windows --info --link --disclaimer --picture
               --sign-pkcs12 --sign-password-file --timestamp --exclude --exclude-from --dereference -v --verbose
               $common" ;;
    extract)
      options="-C --directory --keep-existing --skip-existing --overwrite-read-only --salvage -v --verbose --threads
               $common" ;;
    list) options="--json --threads $common" ;;
    test) options="--threads $common" ;;
    info) options="--codepage --help" ;;
  esac
  if [[ $cur == -* ]]; then
    COMPREPLY=($(compgen -W "$options" -- "$cur"))
  elif [[ $command == pack ]]; then
    _filedir
  else
    _filedir '@(qef|exe|QEF|EXE)'
  fi
}
complete -F _qef qef
