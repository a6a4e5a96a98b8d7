#!/usr/bin/env bash
# Installs the built tree into a fresh prefix as a user would and checks
# what arrives: exactly the tools, their manual pages and pak's completion;
# the installed programs run; man renders the pages without a warning; the
# completion completes.
#
#   install_test.sh BUILD_DIR WORK_DIR WITH_PAGES
set -euo pipefail
build=$1 work=$2 with_pages=$3
fail() { echo "install test: $*" >&2; exit 1; }

rm -rf "$work"
mkdir -p "$work"
prefix=$work/prefix
cmake --install "$build" --prefix "$prefix" >"$work/install.log" || { cat "$work/install.log"; fail "cmake --install failed"; }

expected=(bin/cfgtool bin/pak share/bash-completion/completions/pak)
((with_pages)) && expected+=(share/man/man1/cfgtool.1 share/man/man1/pak.1)
installed=$(cd "$prefix" && find . -type f -printf '%P\n' | sort)
[[ $installed == "$(printf '%s\n' "${expected[@]}" | sort)" ]] \
  || fail "installed files differ from ${expected[*]}:"$'\n'"$installed"
"$prefix/bin/pak" --help >/dev/null || fail "the installed pak does not run"
"$prefix/bin/cfgtool" --help >/dev/null || fail "the installed cfgtool does not run"

if ((with_pages)); then
  for page in pak cfgtool; do
    MANWIDTH=100 man --warnings -P cat -l "$prefix/share/man/man1/$page.1" >"$work/$page.txt" 2>"$work/warnings" \
      || fail "man cannot render $page.1"
    [[ -s $work/warnings ]] && fail "man warns about $page.1: $(cat "$work/warnings")"
  done
  # A text each rendered page must hold: the synopsis, cfgtool's reading
  # rules, exit status and examples, and a part for each of pak's commands.
  rows=("cfgtool|SYNOPSIS" "cfgtool|cfgtool FILE... [--get SECTION KEY" "cfgtool|Reading rules" "cfgtool|Exit status"
        "cfgtool|EXAMPLES" "pak|SYNOPSIS" "pak|COMMANDS")
  for command in $("$prefix/bin/pak" --help | sed -n 's/^  \([a-z][a-z-]*\)  .*/\1/p'); do
    rows+=("pak|Usage: pak $command")
  done
  for row in "${rows[@]}"; do
    grep -qF -- "${row#*|}" "$work/${row%%|*}.txt" || fail "${row%%|*}.1 renders without \"${row#*|}\""
  done
fi

# Completion, in a clean shell in a folder holding one folder and one file.
mkdir -p "$work/cwd/folder" && touch "$work/cwd/file.pak"
cd "$work/cwd"
complete_line() {  # WORD... (the last one is being completed): the candidates, sorted
  bash --norc --noprofile -c 'source "$1"; shift; COMP_WORDS=("$@"); COMP_CWORD=$(($# - 1)); _pak
                              printf "%s\n" "${COMPREPLY[@]}" | sort | paste -sd" " -' \
    _ "$prefix/share/bash-completion/completions/pak" "$@"
}
# One row a line: the words typed, '|', the candidates wanted among those
# offered; "=" before them: exactly those.
while IFS='|' read -r line wanted; do
  read -ra words <<<"$line"
  [[ $line == *' ' ]] && words+=("")
  got=$(complete_line "${words[@]}")
  if [[ $wanted == =* ]]; then
    [[ $got == "${wanted#=}" ]] || fail "'$line' completes to '$got', not '${wanted#=}'"
    continue
  fi
  for w in $wanted; do
    [[ " $got " == *" $w "* ]] || fail "'$line' completes to '$got', without $w"
  done
done <<'EOF'
pak a|add attach
pak |info list extract cat verify create add delete rename compact attach
pak add file.pak --|--as --store --keep-old --help
pak list file.pak -|-l --long --json
pak extract file.pak -C |=folder
pak add file.pak --as |=
pak add file.pak fi|=file.pak
EOF
((with_pages)) || { echo "install test: help2man was missing when the tree was configured; manual pages not checked"; exit 77; }
echo "install test: $prefix holds ${expected[*]}"
