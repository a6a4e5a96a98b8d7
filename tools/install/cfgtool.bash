
# cfgtool's sections and keys for --get, from cfgtool itself on the files
# already typed (quietly, and only when every one is there).
_cfgtool_complete_hook()
{
    local kind=$1 place=$2 typed=$3 file line section=""
    [[ $kind == argument && ($place == SECTION || $place == KEY) ]] || return 1
    ((${#_korin_operands[@]})) || return 0
    for file in "${_korin_operands[@]}"; do [[ -f $file && -r $file ]] || return 0; done
    local -a show=(cfgtool "${_korin_operands[@]}")
    [[ -n ${_korin_given[--codepage]+set} ]] && show+=(--codepage "${_korin_given[--codepage]}")
    [[ $place == KEY ]] && section=${_korin_given[--get]}
    compopt -o filenames 2>/dev/null
    _korin_offer "$typed" < <("${show[@]}" 2>/dev/null </dev/null | awk -v want="$place" -v section="$section" '
        /^\[.*\]$/ { current = substr($0, 2, length($0) - 2); if (want == "SECTION") print current; next }
        want == "KEY" && tolower(current) == tolower(section) { sub(/=.*/, ""); print }')
    return 0
}
_cfgtool() { _korin_complete cfgtool; }
complete -F _cfgtool cfgtool
