#!/usr/bin/env bash
# Every script in scripts/ answers --help (its text, status 0) and refuses an
# option it does not know (status 2, saying which) before doing anything: a
# script that took either for work would build, install or fuzz, which the
# time limit catches.
set -uo pipefail
here=$(cd "$(dirname "$0")/../.." && pwd)
failed=0
fail() { echo "scripts test: $*" >&2; failed=1; }
out=$(mktemp) err=$(mktemp)
trap 'rm -f "$out" "$err"' EXIT
for script in "$here"/scripts/*; do
  name=scripts/$(basename "$script")
  timeout 20 "$script" --help >"$out" 2>"$err"
  code=$?
  ((code == 0)) || fail "$name --help: exit $code ($(head -c 200 "$err"))"
  [[ -s $out ]] || fail "$name --help printed nothing"
  timeout 20 "$script" --no-such-option >"$out" 2>"$err"
  code=$?
  ((code == 2)) || fail "$name --no-such-option: exit $code, not 2"
  grep -q -- --no-such-option "$err" || fail "$name --no-such-option does not name it: $(head -c 200 "$err")"
  [[ ! -s $out ]] || fail "$name --no-such-option went on: $(head -c 200 "$out")"
done
((failed == 0)) && echo "scripts test: every script answers --help and refuses an unknown option"
exit $failed
