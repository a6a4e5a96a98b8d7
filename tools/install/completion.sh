#!/usr/bin/env bash
# Writes a tool's bash completion from the tool's own --help, so that a new
# command, option or operand completes without anyone listing it here.
#
#   completion.sh PROGRAM FUNCTIONS... OUTPUT
#
# The output is the tables below, followed by the FUNCTIONS files (the
# completion functions that read them). The tables are named after the
# program (_pak_options, ...). Each page is read for:
#   commands   the words of the overview's command list whose own help
#              answers to them ("pak COMMAND --help"); none for a tool
#              without commands, whose one page has the key "-"
#   options    the synopsis' options ("[--codepage CP]") and the lines that
#              start with one ("  -l, --long   ...", "  -C DIR   ..."), each
#              with the placeholders it takes; the overview's page ("-")
#              adds the options it quotes ("'pak --version'")
#   operands   the synopsis' placeholders that belong to no option, in order
#              ("ARCHIVE NAME..."; "..." repeats)
#   values     what an option's argument may be, where its description or
#              the overview says "--codepage 936 (GBK) or 950 (Big5)"
set -euo pipefail
program=$1 output=${*: -1}
functions=("${@:2:$#-2}")
tool=$(basename "$program")

quote() { local q="'\\''"; printf "'%s'" "${1//\'/$q}"; }
placeholder() { [[ $1 =~ ^\[?[A-Z][A-Z0-9_|-]*(\[[^]]*\])?\]?(\.\.\.)?$ ]]; }

# The values of the first "A (...), B (...) or C (...)" in TEXT.
values_in() {
  local re='[^ (]+ \([^)]*\)((, | or )[^ (]+ \([^)]*\))* or [^ (]+ \([^)]*\)'
  [[ $1 =~ $re ]] || return 1
  sed -e 's/ ([^)]*)//g' -e 's/,//g' -e 's/ or / /g' <<<"${BASH_REMATCH[0]}"
}

# Reads one page into the arrays opts (in order), args[opt] and operands.
read_page() {  # TEXT WORDS_BEFORE_THE_SYNOPSIS
  local text=$1 skip=$2 synopsis token bare depth=0 open="" open_depth=0 n
  opts=(--help) operands=()
  args=()
  # The synopsis: the line "Usage: ..." and the lines indented under it.
  synopsis=$(awk '/^Usage:/ { on = 1; printf "%s ", $0; next } on && /^       / { printf "%s ", $0; next } { on = 0 }' <<<"$text")
  read -ra tokens <<<"$synopsis"
  for token in "${tokens[@]:skip}"; do
    bare=${token//…/...}
    n=${bare%%[^[]*} n=${#n}
    bare=${bare:n}
    local starts=$depth repeats=""
    depth=$((depth + n))
    bare=${bare%]...}
    [[ $bare == *... ]] && bare=${bare%...} repeats=...
    # Closing brackets beyond the word's own ("CP]", not "FIRST[-LAST]").
    while opens=${bare//[^[]/} closes=${bare//[^]]/} && ((${#closes} > ${#opens})) && [[ $bare == *']' ]]; do
      bare=${bare%]} depth=$((depth - 1))
    done
    [[ $token == *']...' ]] && depth=$((depth - 1))
    [[ $bare == -* ]] || bare+=$repeats
    if [[ $bare == '|' ]]; then
      open=""
    elif [[ $bare == -* ]]; then
      [[ " ${opts[*]} " == *" $bare "* ]] || opts+=("$bare")
      open=$bare open_depth=$((starts + n))
      args[$bare]=""
    elif placeholder "$bare"; then
      # An option's own group holds its arguments; one outside brackets takes
      # the bare words after it.
      if [[ -n $open ]] && { ((open_depth > 0 && starts + n >= open_depth)) || ((open_depth == 0 && n == 0)); }; then
        ((starts + n > open_depth)) && bare="[$bare]"
        args[$open]+=${args[$open]:+ }$bare
      else
        open=""
        operands+=("$bare")
      fi
    fi
    ((depth >= open_depth)) || open=""
  done
  # Lines that start with options: "  -l, --long   text", "  -C DIR   text".
  local line option words word taken
  while IFS= read -r line; do
    line=${line#"${line%%[! ]*}"}
    line=${line%%  *}
    IFS=',' read -ra words <<<"$line"
    taken=""
    for option in "${words[@]}"; do
      read -r option rest <<<"$option"
      [[ $option == -* ]] || continue
      [[ " ${opts[*]} " == *" $option "* ]] || opts+=("$option")
      taken=""
      for word in $rest; do placeholder "$word" && taken+=${taken:+ }$word || break; done
      [[ -n ${args[$option]-} || -z $taken ]] || args[$option]=$taken
    done
  done < <(grep -E '^ +-[^ ]' <<<"$text" || true)
}

# An option's description: its line and the lines under it, up to the next
# option or a blank line.
description_of() {  # TEXT OPTION
  awk -v o="$2" '
    /^ +-/ { on = 0; n = split($0, w, /[ ,]+/); for (i = 1; i <= n; i++) if (w[i] == o) on = 1 }
    /^ *$/ { on = 0 }
    on { printf "%s ", $0 }' <<<"$1"
}

overview=$("$program" --help)
commands=()
while read -r word _; do
  page=$("$program" "$word" --help 2>/dev/null) || continue
  [[ $page == "Usage: $tool $word "* || $page == "Usage: $tool $word" ]] && commands+=("$word")
done < <(sed -n 's/^  \([a-z][a-z-]*\)  .*/\1/p' <<<"$overview")

{
  echo "# bash completion for $tool, made from $tool's --help when $tool was built."
  echo "_${tool}_commands=$(quote "${commands[*]}")"
  echo "declare -gA _${tool}_options=() _${tool}_arguments=() _${tool}_values=() _${tool}_operands=()"
  declare -A args
  flat_overview=$(tr '\n' ' ' <<<"$overview" | tr -s ' ')
  for key in - "${commands[@]}"; do
    if [[ $key == - ]]; then
      text=$overview skip=2
    else
      text=$("$program" "$key" --help) skip=3
    fi
    read_page "$text" "$skip"
    if [[ $key == - ]] && ((${#commands[@]})); then
      operands=()
      while read -r option; do
        [[ " ${opts[*]} " == *" $option "* ]] || opts+=("$option")
      done < <(grep -oE "'$tool --[a-z][a-z-]*'" <<<"$overview" | tr -d "'" | cut -d' ' -f2)
    fi
    echo "_${tool}_options[$key]=$(quote "${opts[*]}")"
    ((${#operands[@]})) && echo "_${tool}_operands[$key]=$(quote "${operands[*]}")"
    for option in "${opts[@]}"; do
      [[ -n ${args[$option]-} ]] || continue
      echo "_${tool}_arguments[$(quote "$key $option")]=$(quote "${args[$option]}")"
      values=$(values_in "$(description_of "$text" "$option")") ||
        values=$(values_in "$(grep -oE -- "$option [^ (]+ \([^)]*\).*" <<<"$flat_overview" | head -1)") || continue
      echo "_${tool}_values[$(quote "$key $option")]=$(quote "$values")"
    done
  done
  echo
  cat "${functions[@]}"
} >"$output.new"
mv "$output.new" "$output"
