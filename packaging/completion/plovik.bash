# bash completion for plovik: commands, subcommands, providers and options.
_plovik() {
    local cur=${COMP_WORDS[COMP_CWORD]} first=${COMP_WORDS[1]}
    local providers="deepseek zhipu"
    if [ "$COMP_CWORD" -eq 1 ]; then
        COMPREPLY=($(compgen -W "status create open rename note search index key test service diagnostics --help --version" -- "$cur"))
        return
    fi
    case "$first" in
        note) [ "$COMP_CWORD" -eq 2 ] && COMPREPLY=($(compgen -W "add" -- "$cur")) && return
              [[ $cur == -* ]] && COMPREPLY=($(compgen -W "--title" -- "$cur")) && return
              COMPREPLY=($(compgen -f -- "$cur")) ;;
        index) [ "$COMP_CWORD" -eq 2 ] && COMPREPLY=($(compgen -W "skipped" -- "$cur")) && return
               COMPREPLY=($(compgen -W "--json" -- "$cur")) ;;
        key) [ "$COMP_CWORD" -eq 2 ] && COMPREPLY=($(compgen -W "set remove status" -- "$cur")) && return
             [ "$COMP_CWORD" -eq 3 ] && COMPREPLY=($(compgen -W "$providers" -- "$cur")) ;;
        test) [ "$COMP_CWORD" -eq 2 ] && COMPREPLY=($(compgen -W "$providers" -- "$cur")) && return
              COMPREPLY=($(compgen -W "--model" -- "$cur")) ;;
        service) [ "$COMP_CWORD" -eq 2 ] && COMPREPLY=($(compgen -W "enable disable status" -- "$cur")) ;;
        status) COMPREPLY=($(compgen -W "--json" -- "$cur")) ;;
        search) COMPREPLY=($(compgen -W "--json --limit" -- "$cur")) ;;
        create) [[ $cur == -* ]] && COMPREPLY=($(compgen -W "--at" -- "$cur")) && return
                [ "${COMP_WORDS[COMP_CWORD-1]}" = "--at" ] && COMPREPLY=($(compgen -d -- "$cur")) ;;
        open) COMPREPLY=($(compgen -d -- "$cur")) ;;
        diagnostics) COMPREPLY=($(compgen -f -- "$cur")) ;;
    esac
} &&
    complete -F _plovik plovik
