# bash completion for plovik: commands, subcommands, providers, options, and paths as bash
# completes them itself (names with spaces quoted, a "/" after a folder, "--at=DIR" too).
_plovik_paths() {  # -f: files and folders, -d: folders only
    local IFS=$'\n'
    compopt -o filenames 2>/dev/null
    COMPREPLY=($(compgen "$1" -- "$cur"))
}

_plovik() {
    local cur=${COMP_WORDS[COMP_CWORD]} prev=${COMP_WORDS[COMP_CWORD-1]} first=${COMP_WORDS[1]}
    local providers="deepseek zhipu"
    # "--at=DIR": bash splits the word at "=" (COMP_WORDBREAKS), so "=" stands alone before it.
    if [ "$cur" = "=" ]; then
        prev=${COMP_WORDS[COMP_CWORD-1]} cur=
    elif [ "$prev" = "=" ]; then
        prev=${COMP_WORDS[COMP_CWORD-2]}
    fi
    if [ "$COMP_CWORD" -eq 1 ]; then
        COMPREPLY=($(compgen -W "status create open rename note search index key test service diagnostics help --help --version" -- "$cur"))
        return
    fi
    case "$first" in
        help) [ "$COMP_CWORD" -eq 2 ] &&
                  COMPREPLY=($(compgen -W "status create open rename note search index key test service diagnostics" -- "$cur")) ;;
        note) [ "$COMP_CWORD" -eq 2 ] && COMPREPLY=($(compgen -W "add" -- "$cur")) && return
              [ "$prev" = "--title" ] && return
              [[ $cur == -* ]] && COMPREPLY=($(compgen -W "--title --help" -- "$cur")) && return
              _plovik_paths -f ;;
        index) [ "$COMP_CWORD" -eq 2 ] && COMPREPLY=($(compgen -W "skipped" -- "$cur")) && return
               COMPREPLY=($(compgen -W "--json --help" -- "$cur")) ;;
        key) [ "$COMP_CWORD" -eq 2 ] && COMPREPLY=($(compgen -W "set remove status" -- "$cur")) && return
             [ "$COMP_CWORD" -eq 3 ] && COMPREPLY=($(compgen -W "$providers" -- "$cur")) ;;
        test) [ "$COMP_CWORD" -eq 2 ] && COMPREPLY=($(compgen -W "$providers" -- "$cur")) && return
              COMPREPLY=($(compgen -W "--model --help" -- "$cur")) ;;
        service) [ "$COMP_CWORD" -eq 2 ] && COMPREPLY=($(compgen -W "enable disable status" -- "$cur")) ;;
        status) COMPREPLY=($(compgen -W "--json --help" -- "$cur")) ;;
        search) COMPREPLY=($(compgen -W "--json --limit --help" -- "$cur")) ;;
        create) [ "$prev" = "--at" ] && _plovik_paths -d && return
                [[ $cur == -* ]] && COMPREPLY=($(compgen -W "--at --help" -- "$cur")) ;;
        open) _plovik_paths -d ;;
        diagnostics) _plovik_paths -f ;;
    esac
} &&
    complete -F _plovik plovik
