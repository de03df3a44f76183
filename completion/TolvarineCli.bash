# bash completion for TolvarineCli

_TolvarineCli() {
  local cur=${COMP_WORDS[COMP_CWORD]}
  local prev=${COMP_WORDS[COMP_CWORD-1]}
  local command=${COMP_WORDS[1]}
  COMPREPLY=()

  if [ "$COMP_CWORD" -eq 1 ]; then
    COMPREPLY=($(compgen -W '--help -i --Gpic --firmware --export --import --execute' -- "$cur"))
    return
  fi
  case $prev in
    --len)
      COMPREPLY=($(compgen -W '1 2l 2b' -- "$cur"))
      return ;;
    --prefix|--surfix|-vp)
      return ;;  # a value the user types
  esac
  # Slave options after "--custom", as long as whole pairs precede.
  if [ "${COMP_WORDS[2]}" = --custom ] && [ "$COMP_CWORD" -ge 3 ] &&
     [ $(( (COMP_CWORD - 3) % 2 )) -eq 0 ] && [ "$COMP_CWORD" -le 7 ]; then
    COMPREPLY=($(compgen -W '--prefix --len --surfix' -- "$cur"))
    if [ "$command" = --import ] && [[ $cur != -* ]]; then
      COMPREPLY+=($(compgen -f -X '!*.xml' -- "$cur") $(compgen -d -- "$cur"))
    fi
    return
  fi
  if [ "$COMP_CWORD" -eq 2 ]; then
    case $command in
      --execute) COMPREPLY=($(compgen -W '--custom' -- "$cur")) ;;
      --import)
        COMPREPLY=($(compgen -W '--custom' -- "$cur"))
        COMPREPLY+=($(compgen -f -X '!*.xml' -- "$cur") $(compgen -d -- "$cur")) ;;
      --export) COMPREPLY=($(compgen -f -X '!*.xml' -- "$cur") $(compgen -d -- "$cur")) ;;
      --firmware) COMPREPLY=($(compgen -f -X '!*.bin' -- "$cur") $(compgen -d -- "$cur")) ;;
    esac
    return
  fi
  if [ "$COMP_CWORD" -eq 3 ]; then
    case $command in
      --firmware|--export|--import|--execute) COMPREPLY=($(compgen -W '-vp' -- "$cur")) ;;
    esac
  fi
}
complete -F _TolvarineCli TolvarineCli
