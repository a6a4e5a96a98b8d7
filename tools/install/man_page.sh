#!/usr/bin/env bash
# Writes a tool's manual page from its own --help, with help2man, so that the
# page cannot drift from the program.
#
#   man_page.sh PROGRAM VERSION DESCRIPTION SEE_ALSO OUTPUT
#
# The version is the one `PROGRAM --version` prints when it has that option,
# VERSION otherwise. For a tool with commands ('pak COMMAND --help'), every
# command's page becomes a part of the section COMMANDS: the commands are the
# words of the overview's command list whose own help answers to them.
set -euo pipefail
program=$1 fallback_version=$2 description=$3 see_also=$4 output=$5
name=$(basename "$program")

version=$fallback_version
if text=$("$program" --version 2>/dev/null) && [[ $text =~ [0-9]+(\.[0-9]+)+ ]]; then
  version=${BASH_REMATCH[0]}
fi

# Text as roff shows it unchanged: a backslash is \e, a minus a minus (not a
# hyphen), and a line starting with a control character is not a request.
roff() { sed -e 's/\\/\\e/g' -e 's/-/\\-/g' -e "s/^\\([.']\\)/\\\\\\&\\1/"; }

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
include=$work/include
# help2man takes the synopsis from the line "Usage: ...", and the
# page's name from the program's: a wrapper of the same name gives it that.
wrapper=$work/$name
{
  echo '#!/usr/bin/env bash'
  printf 'program=%q\n' "$program"
  echo 'if [[ $1 == --help ]]; then "$program" --help; else exec "$program" "$@"; fi'
} >"$wrapper"
chmod +x "$wrapper"
{
  echo "[SEE ALSO]"
  echo ".BR $see_also (1)"
  commands=()
  while read -r word _; do
    page=$("$program" "$word" --help 2>/dev/null) || continue
    [[ $page == "Usage: $name $word "* || $page == "Usage: $name $word" ]] && commands+=("$word")
  done < <("$program" --help | sed -n 's/^  \([a-z][a-z-]*\)  .*/\1/p')
  if ((${#commands[@]})); then
    echo "[COMMANDS]"
    for word in "${commands[@]}"; do
      echo ".SS $word"
      echo ".nf"
      "$program" "$word" --help | roff
      echo ".fi"
    done
  fi
} >"$include"

"${HELP2MAN:-help2man}" --no-info --no-discard-stderr --version-string="$version" --name="$description" \
  --include="$include" --output="$output.new" "$wrapper"
mv "$output.new" "$output"
