# The completion function shared by the tools, over the tables above. Plain
# bash, so that it works without the bash-completion package's helpers.
#   TOOL <TAB>                      commands (and the overview's options)
#   TOOL COMMAND ... --<TAB>        the command's options
#   TOOL COMMAND ... -C <TAB>       what the option takes: its values where
#                                   the help names them, folders for DIR,
#                                   files for a FILE, ARCHIVE or the like,
#                                   else what the tool's own hook offers
#   TOOL COMMAND ... <TAB>          what the operand at that place takes:
#                                   the tool's hook first (pak: entry names
#                                   for a NAME or PATTERN), files otherwise
# A tool's hook, _TOOL_complete_hook KIND PLACEHOLDER TYPED, sets COMPREPLY
# and returns 0 when it knows the placeholder; it reads _korin_given (the
# options given, with their values) and _korin_operands (the operands so
# far, by placeholder).

# The words of the line up to the cursor, as the shell will split them
# (quotes kept): COMP_WORDS would part "#:\a" at the colon.
_korin_words()
{
    local line=${COMP_LINE:0:COMP_POINT} word="" quote="" c i
    _korin_line=()
    for ((i = 0; i < ${#line}; i++)); do
        c=${line:i:1}
        if [[ $quote == "'" ]]; then
            word+=$c
            [[ $c == "'" ]] && quote=""
        elif [[ $c == '\' ]]; then
            word+=$c${line:i+1:1}
            ((i++))
        elif [[ -n $quote ]]; then
            word+=$c
            [[ $c == '"' ]] && quote=""
        elif [[ $c == [\'\"] ]]; then
            word+=$c quote=$c
        elif [[ $c == [[:space:]] ]]; then
            [[ -n $word ]] && _korin_line+=("$word")
            word=""
        else
            word+=$c
        fi
    done
    _korin_line+=("$word")
}

# A word as the program will get it: quotes and backslashes taken away, a
# leading ~/ made the home folder.
_korin_dequote()
{
    local raw=$1 c i quote=""
    REPLY=""
    for ((i = 0; i < ${#raw}; i++)); do
        c=${raw:i:1}
        if [[ $quote == "'" ]]; then
            if [[ $c == "'" ]]; then quote=""; else REPLY+=$c; fi
        elif [[ $c == '\' ]]; then
            if [[ $quote == '"' && ${raw:i+1:1} != [\"\\\$\`] ]]; then
                REPLY+=$c
            else
                REPLY+=${raw:i+1:1}
                ((i++))
            fi
        elif [[ $quote == '"' ]]; then
            if [[ $c == '"' ]]; then quote=""; else REPLY+=$c; fi
        elif [[ $c == [\'\"] ]]; then
            quote=$c
        else
            REPLY+=$c
        fi
    done
    [[ $REPLY == '~/'* ]] && REPLY=$HOME/${REPLY#'~/'}
    return 0
}

# COMPREPLY: the WORDS (one a line) that begin with TYPED, less the first
# _korin_cut characters: those of the word that the shell parted off at a
# ':' or '=' and will not replace.
_korin_offer()
{
    local typed=$1 word
    COMPREPLY=()
    while IFS= read -r word; do
        [[ -n $word && $word == "$typed"* ]] && COMPREPLY+=("${word:_korin_cut}")
    done
    return 0
}

_korin_complete()
{
    local tool=$1
    local -n _table_commands=_${tool}_commands _table_options=_${tool}_options \
        _table_arguments=_${tool}_arguments _table_values=_${tool}_values _table_operands=_${tool}_operands
    local -a words
    if [[ -n ${COMP_LINE-} ]]; then
        _korin_words
        words=("${_korin_line[@]}")
    else
        words=("${COMP_WORDS[@]:0:COMP_CWORD+1}")
    fi
    local cword=$((${#words[@]} - 1))
    local raw=${words[cword]} cur
    _korin_cut=0
    local part=${COMP_WORDS[COMP_CWORD]-}
    if [[ -n ${COMP_LINE-} && $raw == *?"$part" ]]; then
        _korin_dequote "${raw%"$part"}"
        _korin_cut=${#REPLY}
    fi
    _korin_dequote "$raw"
    cur=$REPLY
    COMPREPLY=()

    local key=- first=1
    if [[ -n $_table_commands ]]; then
        if ((cword == 1)); then
            if [[ $cur == -* ]]; then
                _korin_offer "$cur" < <(printf '%s\n' ${_table_options[-]})
            else
                _korin_offer "$cur" < <(printf '%s\n' $_table_commands)
            fi
            return 0
        fi
        key=${words[1]} first=2
    fi
    [[ -n ${_table_options[$key]+set} ]] || return 0

    # Which option argument or which operand the cursor stands at.
    declare -gA _korin_given=()
    declare -ga _korin_operands=()
    local -a owed=() places=(${_table_operands[$key]-})
    local i word option="" only=0
    for ((i = first; i < cword; i++)); do
        _korin_dequote "${words[i]}"
        word=$REPLY
        if ((${#owed[@]})) && ! [[ ${owed[0]} == '['* && $word == -* ]]; then
            _korin_given[$option]+=${_korin_given[$option]:+ }$word
            owed=("${owed[@]:1}")
            continue
        fi
        owed=()
        if ((!only)) && [[ $word == -- ]]; then
            only=1
        elif ((!only)) && [[ $word == -?* ]]; then
            option=${word%%=*}
            _korin_given[$option]=""
            if [[ $word == *=* ]]; then
                _korin_given[$option]=${word#*=}
            else
                read -ra owed <<<"${_table_arguments["$key $option"]-}"
            fi
        else
            _korin_operands+=("$word")
        fi
    done

    local place kind=argument
    if ((${#owed[@]})) && ! [[ ${owed[0]} == '['* && $cur == -* ]]; then
        place=${owed[0]//[][]/}
        if [[ -n ${_table_values["$key $option"]-} ]]; then
            _korin_offer "$cur" < <(printf '%s\n' ${_table_values["$key $option"]})
            return 0
        fi
    elif ((!only)) && [[ $cur == -* ]]; then
        _korin_offer "$cur" < <(printf '%s\n' ${_table_options[$key]})
        return 0
    else
        kind=operand
        local n=${#_korin_operands[@]}
        ((${#places[@]})) || return 0
        if ((n < ${#places[@]})); then
            place=${places[n]}
        elif [[ ${places[-1]} == *... ]]; then
            place=${places[-1]}
        else
            return 0
        fi
        place=${place%...}
    fi
    if declare -F "_${tool}_complete_hook" >/dev/null && "_${tool}_complete_hook" "$kind" "$place" "$cur"; then
        return 0
    fi
    case $place in
        *'|'*) _korin_offer "$cur" < <(tr '|' '\n' <<<"$place") ;;
        DIR | FOLDER) compopt -o filenames 2>/dev/null
            mapfile -t COMPREPLY < <(compgen -d -- "$cur") ;;
        *FILE* | *ARCHIVE* | *PROGRAM* | *TARGET* | OUT* | PATH*) compopt -o filenames 2>/dev/null
            mapfile -t COMPREPLY < <(compgen -f -- "$cur") ;;
        *)
            if [[ $kind == operand && $place != *NAME* && $place != *PATTERN* ]]; then
                compopt -o filenames 2>/dev/null
                mapfile -t COMPREPLY < <(compgen -f -- "$cur")
            fi ;;
    esac
    return 0
}
