# The completion function, over the tables above. Plain bash, so that it
# works without the bash-completion package's helpers.
#   pak <TAB>                 commands (and the overview's options)
#   pak add x.pak --<TAB>     the command's options
#   pak extract x.pak -C <TAB>  what the option takes: folders for DIR, one
#                             of the values for "A|B", nothing for a NAME or
#                             number, files otherwise
#   pak add x.pak <TAB>       files
_pak()
{
    local cur=${COMP_WORDS[COMP_CWORD]} prev=${COMP_WORDS[COMP_CWORD - 1]}
    COMPREPLY=()
    if ((COMP_CWORD == 1)); then
        if [[ $cur == -* ]]; then
            mapfile -t COMPREPLY < <(compgen -W "$_pak_global_options" -- "$cur")
        else
            mapfile -t COMPREPLY < <(compgen -W "$_pak_commands" -- "$cur")
        fi
        return 0
    fi
    local command=${COMP_WORDS[1]}
    [[ -n ${_pak_options[$command]+set} ]] || return 0

    local argument=${_pak_arguments["$command $prev"]-}
    if [[ -n $argument ]]; then
        case $argument in
            DIR | FOLDER) compopt -o filenames 2>/dev/null
                mapfile -t COMPREPLY < <(compgen -d -- "$cur") ;;
            *'|'*) mapfile -t COMPREPLY < <(compgen -W "${argument//|/ }" -- "$cur") ;;
            *FILE* | *ARCHIVE* | *PROGRAM* | OUT*) compopt -o filenames 2>/dev/null
                mapfile -t COMPREPLY < <(compgen -f -- "$cur") ;;
        esac
        return 0
    fi
    if [[ $cur == -* ]]; then
        mapfile -t COMPREPLY < <(compgen -W "${_pak_options[$command]}" -- "$cur")
    else
        compopt -o filenames 2>/dev/null
        mapfile -t COMPREPLY < <(compgen -f -- "$cur")
    fi
    return 0
}
complete -F _pak pak
