
# pak's entry names for a NAME or PATTERN operand, from 'pak list' on the
# archive already typed (quietly, and only on a file that is there), with
# the options that change what it lists. A name is offered without its drive
# prefix ("#:\") unless that is typed, as NAME finds it either way.
_pak_complete_hook()
{
    local kind=$1 place=$2 typed=$3 archive=${_korin_operands[0]-} name
    [[ $kind == operand && ($place == NAME || $place == PATTERN) ]] || return 1
    [[ -f $archive && -r $archive ]] || return 0
    local -a list=(pak list "$archive")
    [[ -n ${_korin_given[--codepage]+set} ]] && list+=(--codepage "${_korin_given[--codepage]}")
    [[ -n ${_korin_given[--appended]+set} ]] && list+=(--appended)
    compopt -o filenames 2>/dev/null
    _korin_offer "$typed" < <("${list[@]}" 2>/dev/null </dev/null | while IFS= read -r name; do
        if [[ $name == ?:'\'* && $typed != ?:* ]]; then printf '%s\n' "${name:3}"; else printf '%s\n' "$name"; fi
    done)
    return 0
}
_pak() { _korin_complete pak; }
complete -F _pak pak
