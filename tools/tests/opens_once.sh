#!/usr/bin/env bash
# Every reading pak command opens its archive once, and cfgtool its file
# once: the opens counted in the system calls strace sees.
# Usage: opens_once.sh PAK CFGTOOL. Exit 77 (skipped) without strace.
set -u
pak=$1 cfgtool=$2
if ! command -v strace >/dev/null; then
  echo "skipped: strace is not installed (Debian package strace; scripts/setup installs it)"
  exit 77
fi
if ! strace -f -e trace=openat,open -o /dev/null true 2>/dev/null; then
  echo "skipped: strace cannot trace processes here"
  exit 77
fi
dir=$(mktemp -d)
trap 'rm -rf "$dir"' EXIT
cd "$dir" || exit 1
printf 'hello\n' >hello.txt
printf '[S]\r\nK=v\r\n' >a.ini
printf 'MZ not a program' >prog.exe
"$pak" create a.pak && "$pak" add a.pak hello.txt && cp a.pak b.pak &&
  "$pak" attach prog.exe b.pak --force 2>/dev/null || { echo "cannot make the archives"; exit 1; }

failed=0
# The opens of the file named $1 while the rest runs (which must succeed).
expect_one_open() {
  local name=$1
  shift
  # The leak checker cannot work under a tracer.
  if ! ASAN_OPTIONS=detect_leaks=0 strace -f -e trace=openat,open -o trace.txt "$@" >/dev/null 2>err.txt; then
    echo "FAIL: $* exits with an error: $(cat err.txt)"
    failed=1
    return
  fi
  local n
  n=$(grep -cE "open(at)?\(.*\"([^\"]*/)?$name\"" trace.txt)
  echo "$n open(s) of $name: ${*##*/}"
  if [ "$n" != 1 ]; then
    echo "FAIL: $* opens $name $n times"
    grep -E "\"([^\"]*/)?$name\"" trace.txt
    failed=1
  fi
}
expect_one_open 'a\.pak' "$pak" info a.pak
expect_one_open 'a\.pak' "$pak" info a.pak --json
expect_one_open 'a\.pak' "$pak" list a.pak -l
expect_one_open 'a\.pak' "$pak" list a.pak --json
expect_one_open 'a\.pak' "$pak" cat a.pak hello.txt
expect_one_open 'a\.pak' "$pak" verify a.pak
expect_one_open 'a\.pak' "$pak" extract a.pak -C out1
expect_one_open 'a\.pak' "$pak" extract a.pak -C out4 -j 4
expect_one_open 'prog\.exe' "$pak" list prog.exe
expect_one_open 'prog\.exe' "$pak" verify prog.exe
expect_one_open 'prog\.exe' "$pak" extract prog.exe -C out5
expect_one_open 'a\.ini' "$cfgtool" a.ini
expect_one_open 'a\.ini' "$cfgtool" a.ini --get S K
exit $failed
