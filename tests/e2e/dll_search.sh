#!/usr/bin/env bash
# A DLL planted beside a deliverable is not loaded, because the program's
# first calls restrict the DLL search to the system folder.
#
#   dll_search.sh WORK_DIR PLANTED_DLL LOAD_BY_NAME DELIVERABLE...
#
# The control, load_by_name.exe in the same folder, shows that Wine takes a
# planted DLL from the program's folder when the search is not restricted.
# Wine's own system DLLs are built in and never look for one another there,
# so a planted DLL alone cannot show the restriction under Wine: the relay
# trace of each deliverable shows it instead, as the order of its calls.
set -euo pipefail
here=$(cd "$(dirname "$0")/../.." && pwd)
work=$1 planted=$2 control=$3
shift 3
fail() { echo "dll_search: $*" >&2; exit 1; }

# Names that Windows' user interface and shell libraries load by name.
names=(dwmapi.dll uxtheme.dll version.dll propsys.dll cryptbase.dll oleacc.dll comctl32.dll)
rm -rf "$work"
mkdir -p "$work/downloads"
export WINEPREFIX=$(realpath -m "$work/wineprefix")
"$here/scripts/wine-prefix"
for n in "${names[@]}"; do cp "$planted" "$work/downloads/$n"; done

cp "$control" "$work/downloads/"
"$here/scripts/wine-run" "$work/downloads/$(basename "$control")" dwmapi.dll
[[ -f $work/downloads/dwmapi.dll.loaded ]] ||
  fail "the control did not load the planted dwmapi.dll: this Wine cannot show the danger"
rm -f "$work/downloads/"*.loaded
# Its server knows no display: the deliverables start their own under Xvfb.
wineserver -k 2>/dev/null || true
echo "dll_search: unrestricted, Wine loads a planted DLL from the program's folder"

for deliverable in "$@"; do
  exe=$work/downloads/$(basename "$deliverable")
  cp "$deliverable" "$exe"
  log=$work/$(basename "$deliverable").relay
  # Run until COM is up and its dialog has had a second, then end it. Its
  # main thread is the one that looks for an earlier copy of itself (Wine's
  # own programs are traced too).
  WINEDEBUG=+relay xvfb-run -a "$here/scripts/wine-run" "$exe" >"$log" 2>&1 &
  runner=$!
  main=
  shown() {
    [[ -n $main ]] || main=$(grep -m1 'Call user32.FindWindowW(.*L"UPD_AUTORUN"' "$log" | cut -c1-4 || true)
    [[ -n $main ]] && grep -q "^$main:Ret  ole32.OleInitialize" "$log"
  }
  for ((i = 0; i < 600; ++i)); do
    shown && break
    kill -0 $runner 2>/dev/null || break
    sleep 0.1
  done
  sleep 1
  wineserver -k 2>/dev/null || true
  wait $runner 2>/dev/null || true
  shown || fail "$(basename "$exe") did not start its user interface"
  loaded=$(cd "$work/downloads" && ls -- *.loaded 2>/dev/null || true)
  [[ -z $loaded ]] || fail "$(basename "$exe") loaded the planted ${loaded//.loaded/}"

  # The program's own calls on its main thread (return addresses in its
  # image, 0x004xxxxx), in order: the search is restricted before its first
  # call into any library that loads others, and before it loads anything.
  calls=$(grep -E "^$main:(Call|Ret) +[A-Za-z0-9_]+\.[A-Za-z0-9_]+.* ret=004[0-9a-f]{5}\$" "$log" |
          sed -E 's/^[0-9a-f]{4}:(Call|Ret) +([A-Za-z0-9_.]+).*/\1 \2/')
  first_restrict=$(grep -n '^Call KERNEL32.SetDefaultDllDirectories' <<<"$calls" | head -1 | cut -d: -f1 || true)
  [[ -n $first_restrict ]] || fail "$(basename "$exe") never restricted its DLL search"
  grep -q "^$main:Call KERNEL32.SetDefaultDllDirectories(00000800)" "$log" || fail "$(basename "$exe"): not to the system folder"
  grep -q "^$main:Ret  KERNEL32.SetDefaultDllDirectories() retval=00000001" "$log" || fail "$(basename "$exe"): refused"
  before=$(head -n $((first_restrict - 1)) <<<"$calls" | grep '^Call' |
           grep -Ev '^Call (msvcrt|ntdll)\.|^Call KERNEL32\.(GetModuleHandleA|GetProcAddress|GetStartupInfoA|SetUnhandledExceptionFilter|TlsAlloc|TlsGetValue|TlsSetValue|CreateEventA|DuplicateHandle|GetThreadPriority|GetCurrentThreadId|GetLastError|SetLastError)$' || true)
  [[ -z $before ]] || fail "$(basename "$exe") called before restricting its DLL search: $(tr '\n' ' ' <<<"$before")"
  echo "dll_search: $(basename "$exe") restricts its search first (call $first_restrict of its own) and loads no planted DLL"
  rm -f "$log"
done
