#!/usr/bin/env bash
# Writes a tool's manual page from its own --help, with help2man, so that the
# page cannot drift from the program.
#
#   man_page.sh PROGRAM VERSION DESCRIPTION SEE_ALSO OUTPUT
#
# The version is the one `PROGRAM --version` prints when it has that option,
# VERSION otherwise. For a tool with commands ('pak COMMAND --help'), every
# command's page becomes a part of the section COMMANDS: the commands are the
# words of the overview's command list whose own help answers to them. The
# overview's examples become the section EXAMPLES. Unfilled text is fitted to
# 80 columns, so that no example or synopsis runs over a terminal's edge.
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

# Lines of at most 73 columns, what an 80-column terminal shows of a page's
# unfilled text (indented by 7): a synopsis goes on under its operands at an
# option, an example (the lines under "Example:") goes on after " \" as the
# shell reads it, other text at a blank under its own indentation.
fit() {
  awk -v width=73 '
    function put(line, more, mark,   cut, i, c) {
      while (length(line) > width) {
        cut = 0
        for (i = width - length(mark); i > length(more) && !cut; i--) {
          c = substr(line, i, 1) == " "
          if (mark == " [") c = c && substr(line, i + 1, 1) == "["
          if (mark == " \\") c = c && (substr(line, i - 2, 2) == "&&" || substr(line, i - 1, 1) == "|")
          if (c) cut = i
        }
        for (i = width - length(mark); i > length(more) && !cut; i--)
          if (substr(line, i, 1) == " ") cut = i
        if (!cut) break
        print substr(line, 1, cut - 1) (mark == " \\" ? " \\" : "")
        line = more substr(line, cut + 1)
      }
      print line
    }
    function flush() { if (usage != "") put(usage, indent, " ["); usage = "" }
    /^Usage: / {
      match($0, /^Usage: [^ ]+ ([a-z][a-z-]* )?/); indent = sprintf("%" RLENGTH "s", ""); usage = $0; next
    }
    usage != "" && /^       / { sub(/^ +/, ""); usage = usage " " $0; next }
    { flush() }
    /^Examples?:/ { example = 1; print; next }
    /^$/ { example = 0 }
    example { put($0, "      ", " \\"); next }
    { match($0, /^ */); put($0, sprintf("%" RLENGTH + 2 "s", ""), " ") }
    END { flush() }'
}

# The overview's examples, taken out of the text that help2man fills:
# "Example(s):" and the lines indented under it, and a line "  Examples: A
# B" inside a list. They become the section EXAMPLES, a line each.
examples_out() {  # FILTERED EXAMPLES
  awk -v text="$1" -v examples="$2" '
    /^Examples?:$/ { block = 1; next }
    block && /^$/ { next }
    block && /^ / { sub(/^ +/, ""); print >examples; next }
    { block = 0 }
    /^ +Examples?: / {
      sub(/^ +Examples?: +/, "")
      n = split($0, parts, /   +/)
      for (i = 1; i <= n; i++) print parts[i] >examples
      next
    }
    { print >text }'
}

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
include=$work/include
"$program" --help | examples_out "$work/help" "$work/examples"
touch "$work/examples"
# help2man takes the synopsis from the line "Usage: ...", and the
# page's name from the program's: a wrapper of the same name gives it that,
# and the help without its examples.
wrapper=$work/$name
{
  echo '#!/usr/bin/env bash'
  printf 'program=%q help=%q\n' "$program" "$work/help"
  echo 'if [[ $1 == --help ]]; then cat "$help"; else exec "$program" "$@"; fi'
} >"$wrapper"
chmod +x "$wrapper"
{
  echo "[SEE ALSO]"
  echo ".BR $see_also (1)"
  if [[ -s $work/examples ]]; then
    echo "[EXAMPLES]"
    echo ".nf"
    sed 's/^/Example:\n  /' "$work/examples" | fit | grep -v '^Example:$' | sed 's/^  //' | roff
    echo ".fi"
  fi
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
      "$program" "$word" --help | fit | roff
      echo ".fi"
    done
  fi
} >"$include"

"${HELP2MAN:-help2man}" --no-info --no-discard-stderr --version-string="$version" --name="$description" \
  --include="$include" --output="$work/page" "$wrapper"
# No hyphenation nor justified lines; a synopsis breaks between its
# bracketed groups, never inside one; "Exit status:" is the section EXIT
# STATUS.
awk '
  /^\.TH / { print; print ".nh"; print ".ad l"; next }
  /^\.SH SYNOPSIS/ { synopsis = 1; print; next }
  /^\.SH / { synopsis = 0 }
  synopsis && !/^\./ {
    out = ""; depth = 0
    for (i = 1; i <= length($0); i++) {
      c = substr($0, i, 1)
      if (c == "[") depth++
      if (c == "]") depth--
      out = out ((c == " " && depth > 0) ? "\\ " : c)
    }
    print out; next
  }
  /^\.SS "Exit status:"$/ { print ".SH \"EXIT STATUS\""; next }
  { print }' "$work/page" >"$output.new"
mv "$output.new" "$output"
