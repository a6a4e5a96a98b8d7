#!/usr/bin/env bash
# Installs the built tree into a fresh prefix as a user would and checks
# what arrives: exactly the tools, their manual pages and completions; the
# installed programs run; man renders the pages without a warning and
# without an example broken across lines; the completions complete.
#
#   install_test.sh BUILD_DIR WORK_DIR WITH_PAGES
set -euo pipefail
build=$1 work=$2 with_pages=$3
fail() { echo "install test: $*" >&2; exit 1; }

rm -rf "$work"
mkdir -p "$work"
prefix=$work/prefix
cmake --install "$build" --prefix "$prefix" >"$work/install.log" || { cat "$work/install.log"; fail "cmake --install failed"; }

expected=(bin/cfgtool bin/pak share/bash-completion/completions/cfgtool share/bash-completion/completions/pak)
((with_pages)) && expected+=(share/man/man1/cfgtool.1 share/man/man1/pak.1)
installed=$(cd "$prefix" && find . -type f -printf '%P\n' | sort)
[[ $installed == "$(printf '%s\n' "${expected[@]}" | sort)" ]] \
  || fail "installed files differ from ${expected[*]}:"$'\n'"$installed"
"$prefix/bin/pak" --help >/dev/null || fail "the installed pak does not run"
"$prefix/bin/cfgtool" --help >/dev/null || fail "the installed cfgtool does not run"

if ((with_pages)); then
  for page in pak cfgtool; do
    MANWIDTH=80 man --warnings -P cat -l "$prefix/share/man/man1/$page.1" >"$work/$page.txt" 2>"$work/warnings" \
      || fail "man cannot render $page.1"
    [[ -s $work/warnings ]] && fail "man warns about $page.1: $(cat "$work/warnings")"
    wide=$(awk 'length > 80' "$work/$page.txt")
    [[ -z $wide ]] || fail "$page.1 runs over 80 columns:"$'\n'"$wide"
  done
  # Every example stands whole on a line of its own: each command's, and
  # the overview's wildcard examples.
  examples=('pak list a.pak "**/*.ini"' 'pak extract a.pak "data/maps/*"')
  for command in $("$prefix/bin/pak" --help | sed -n 's/^  \([a-z][a-z-]*\)  .*/\1/p'); do
    mapfile -t -O "${#examples[@]}" examples < <("$prefix/bin/pak" "$command" --help | sed -n '/^Examples*:/,/^$/s/^  //p')
  done
  for example in "${examples[@]}"; do
    grep -qxF -- "$example" <(sed 's/^ *//' "$work/pak.txt") || fail "pak.1 renders \"$example\" broken"
  done
  # A text each rendered page must hold: the synopsis, cfgtool's reading
  # rules, exit status and examples, and a part for each of pak's commands.
  rows=("cfgtool|SYNOPSIS" "cfgtool|cfgtool FILE... [--get SECTION KEY" "cfgtool|Reading rules" "cfgtool|EXIT STATUS"
        "cfgtool|EXAMPLES" "pak|SYNOPSIS" "pak|COMMANDS")
  for command in $("$prefix/bin/pak" --help | sed -n 's/^  \([a-z][a-z-]*\)  .*/\1/p'); do
    rows+=("pak|Usage: pak $command")
  done
  for row in "${rows[@]}"; do
    grep -qF -- "${row#*|}" "$work/${row%%|*}.txt" || fail "${row%%|*}.1 renders without \"${row#*|}\""
  done
fi

# Completion, in a clean shell in a folder holding one folder, one file, an
# archive with names to complete and a configuration file, the installed
# tools first on the path.
mkdir -p "$work/cwd/folder" && touch "$work/cwd/file.pak"
cd "$work/cwd"
export PATH=$prefix/bin:$PATH
pak create names.pak --drives @ >/dev/null
printf x | pak add names.pak - --as 'a b.txt' >/dev/null
printf x | pak add names.pak - --as 'd\x.txt' >/dev/null
printf x | pak add names.pak - --as '@:\top.txt' >/dev/null
printf '[Main]\r\nalpha=1\r\nbeta=2\r\n[Other]\r\ngamma=3\r\n' >game.ini
complete_line() {  # LINE (up to the cursor): the candidates, sorted, as bash would ask
  bash --norc --noprofile -c 'tool=${1%% *}; source "$2/$tool"; COMP_LINE=$1 COMP_POINT=${#1}
                              read -ra COMP_WORDS <<<"$1"; [[ $1 == *" " ]] && COMP_WORDS+=("")
                              COMP_CWORD=$((${#COMP_WORDS[@]} - 1)); _$tool
                              printf "%s\n" "${COMPREPLY[@]}" | sort | paste -sd" " -' \
    _ "$1" "$prefix/share/bash-completion/completions"
}
# One row a line: the line typed, '|', the candidates wanted among those
# offered; "=" before them: exactly those.
while IFS='|' read -r line wanted; do
  got=$(complete_line "$line" 2>&1)
  if [[ $wanted == =* ]]; then
    [[ $got == "${wanted#=}" ]] || fail "'$line' completes to '$got', not '${wanted#=}'"
    continue
  fi
  for w in $wanted; do
    [[ " $got " == *" $w "* ]] || fail "'$line' completes to '$got', without $w"
  done
done <<'EOF'
pak a|add attach
pak sy|=sync
pak sync file.pak --d|=--dry-run
pak diff a.pak --|=--appended --codepage --help --json
pak |info list extract cat verify create add delete rename compact attach
pak --|=--help --version
pak add file.pak --|--as --store --keep-old --help --codepage
pak list file.pak -|-l --long --json
pak cat file.pak --|=--appended --at --codepage --force --help
pak verify file.pak --|=--appended --help
pak delete file.pak --|=--at --codepage --help
pak rename file.pak --c|=--codepage
pak extract file.pak -C |=folder
pak add file.pak --as |=
pak add file.pak fi|=file.pak
pak list file.pak --codepage |=936 950
pak cat names.pak |=a b.txt d\x.txt top.txt
pak delete names.pak a\ b.txt '@:\|=@:\top.txt
pak rename names.pak d\\x.txt |=
pak cat absent.pak |=
cfgtool |=file.pak folder game.ini names.pak
cfgtool game.ini --|=--codepage --get --help --int --macros --version
cfgtool game.ini --codepage |=936 950
cfgtool game.ini --get |=Main Other
cfgtool game.ini --get main |=alpha beta
EOF
[[ ! -e absent.pak ]] || fail "completing made absent.pak"
((with_pages)) || { echo "install test: help2man was missing when the tree was configured; manual pages not checked"; exit 77; }
echo "install test: $prefix holds ${expected[*]}"
