# bash completion for TolvarineCli, loaded by bash-completion.
# shellcheck shell=bash

_TolvarineCli() {
  local cur prev words cword
  _init_completion || return

  local command=${words[1]-}
  if ((cword == 1)); then
    mapfile -t COMPREPLY < <(compgen -W '--help --version -i --Gpic --firmware --export --import --execute' -- "$cur")
    return
  fi
  case $prev in
    --len)
      mapfile -t COMPREPLY < <(compgen -W '1 2l 2b' -- "$cur")
      return
      ;;
    --prefix | --surfix | -vp | -sn)
      return # a value the user types
      ;;
  esac
  # Slave options after "--custom", as long as whole pairs precede and
  # fewer than three pairs were given; the file of "--import" is the last
  # argument, after one, two or three pairs.
  if [[ ${words[2]-} == --custom ]] && ((cword >= 3 && (cword - 3) % 2 == 0 && cword <= 9)); then
    ((cword <= 7)) && mapfile -t COMPREPLY < <(compgen -W '--prefix --len --surfix' -- "$cur")
    if [[ $command == --import && $cur != -* ]]; then
      _filedir
    fi
    return
  fi
  if ((cword == 2)); then
    case $command in
      -i)
        mapfile -t COMPREPLY < <(compgen -W '--json' -- "$cur")
        ;;
      --execute)
        mapfile -t COMPREPLY < <(compgen -W '--custom' -- "$cur")
        ;;
      --import)
        mapfile -t COMPREPLY < <(compgen -W '--custom' -- "$cur")
        [[ $cur == -* ]] || _filedir
        ;;
      --export | --firmware)
        # Any file: the tool takes whatever name it is given.
        _filedir
        ;;
    esac
    return
  fi
  if ((cword == 3)); then
    case $command in
      --firmware | --export | --import | --execute)
        mapfile -t COMPREPLY < <(compgen -W '-vp -sn' -- "$cur")
        ;;
    esac
  fi
} && complete -F _TolvarineCli TolvarineCli
