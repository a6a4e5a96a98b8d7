#!/usr/bin/env bash
# Writes pak's bash completion from pak's own --help, so that a new command
# or option completes without anyone remembering to list it here.
#
#   pak_completion.sh PAK FUNCTION OUTPUT
#
# The output is the tables below, followed by FUNCTION (the completion
# function that reads them). Commands are the words of the overview's
# command list whose own help answers to them; a command's options are the
# lines of its help that start with an option ("  -l, --long   ...",
# "  -C DIR   ..."), the word after an option being the argument it takes.
set -euo pipefail
pak=$1 function=$2 output=$3

quote() { local q="'\\''"; printf "'%s'" "${1//\'/$q}"; }
options_of() {  # HELP_TEXT: "OPTION ARGUMENT" per line, ARGUMENT possibly empty
  sed -n 's/^  *\(-[^ ].*\)$/\1/p' <<<"$1" | sed 's/   *.*//' | tr ',' '\n' \
    | sed -e 's/^ *//' -e '/^-/!d'
}

commands=()
while read -r word _; do
  page=$("$pak" "$word" --help 2>/dev/null) || continue
  [[ $page == "Usage: pak $word "* || $page == "Usage: pak $word" ]] && commands+=("$word")
done < <("$pak" --help | sed -n 's/^  \([a-z][a-z-]*\)  .*/\1/p')
((${#commands[@]})) || { echo "pak_completion: $pak --help lists no commands" >&2; exit 1; }

{
  echo "# bash completion for pak, made from pak's --help when pak was built."
  echo "_pak_commands=$(quote "${commands[*]}")"
  global=(--help)
  while read -r option _; do
    [[ $option == --help ]] || global+=("$option")
  done < <(options_of "$("$pak" --help)")
  echo "_pak_global_options=$(quote "${global[*]}")"
  echo "declare -gA _pak_options=() _pak_arguments=()"
  for command in "${commands[@]}"; do
    options=(--help)
    while read -r option argument; do
      options+=("$option")
      [[ -n $argument ]] && echo "_pak_arguments[$(quote "$command $option")]=$(quote "$argument")"
    done < <(options_of "$("$pak" "$command" --help)")
    echo "_pak_options[$command]=$(quote "${options[*]}")"
  done
  echo
  cat "$function"
} >"$output.new"
mv "$output.new" "$output"
