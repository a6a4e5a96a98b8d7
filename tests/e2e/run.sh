#!/usr/bin/env bash
# Runs the end-to-end driver for the editions of one code page: under Wine,
# in a virtual X server, with the locale that gives Wine that ANSI code page.
# CODE_PAGE 1252 is an English system, where every edition is foreign: only
# the checks of texts in any locale run there.
#
#   run.sh CODE_PAGE WORK_DIR DRIVER_EXE HOST_PAK [ID DELIVERABLE TABLE]...
#
# Every edition is passed on (the driver checks those of CODE_PAGE and uses
# the others as "another edition"). Before Wine starts, each deliverable's
# texts are converted from its UTF-8 table with iconv, and a copy is signed
# with a throw-away certificate; `pak attach` must refuse that signed copy.
# The payload is unpacked with pak for the driver to compare the update with.
set -euo pipefail
here=$(cd "$(dirname "$0")/../.." && pwd)
code_page=$1 work=$2 driver=$3 pak=$4
shift 4

locale_of() { case $1 in 950) echo zh_TW.UTF-8 ;; 936) echo zh_CN.UTF-8 ;; 1252) echo en_US.UTF-8 ;; *) return 1 ;; esac; }
charset_of() { case $1 in 950) echo BIG5 ;; 936) echo GBK ;; *) return 1 ;; esac; }
# Wine's drive Z: is the host's root.
winpath() { local p; p=$(realpath -m "$1"); echo "Z:${p//\//\\}"; }
fail() { echo "e2e: $*" >&2; exit 1; }

rm -rf "$work"
mkdir -p "$work/signed"
openssl req -x509 -newkey rsa:2048 -nodes -days 2 -subj "/CN=Korin e2e throw-away" \
  -keyout "$work/key.pem" -out "$work/cert.pem" 2>/dev/null

args=()
while (($#)); do
  id=$1 deliverable=$2 table=$3
  shift 3
  [[ -f $deliverable ]] || fail "$deliverable is missing; build the win32 preset first"
  cp=$(sed -n 's/^code_page\t//p' "$table")
  iconv -f UTF-8 -t "$(charset_of "$cp")" "$table" >"$work/$id.texts"

  signed=$work/signed/$(basename "$deliverable")
  osslsigncode sign -certs "$work/cert.pem" -key "$work/key.pem" -n "Korin III update" \
    -in "$deliverable" -out "$signed" >/dev/null
  osslsigncode verify -CAfile "$work/cert.pem" -in "$signed" >/dev/null \
    || fail "$signed does not verify"
  # Attach first, sign last: a signed program is not attached to again.
  cp "$signed" "$work/attach-target.exe"
  rm -f "$work/extra.pak"
  "$pak" create "$work/extra.pak" >/dev/null
  if "$pak" attach "$work/attach-target.exe" "$work/extra.pak" >/dev/null 2>&1; then
    fail "pak attach accepted the signed $signed"
  fi
  cmp -s "$signed" "$work/attach-target.exe" || fail "pak attach changed the signed $signed"
  echo "e2e: $id signed; pak attach refuses the signed copy"

  "$pak" extract "$deliverable" -C "$work/$id.payload" >/dev/null || fail "cannot unpack $deliverable"

  # The same program over a payload whose Update.PAK carries 24 MB that does
  # not pack: an update long enough to be ended in its middle.
  large=$work/$id.large
  mkdir -p "$large.payload"
  "$pak" detach "$deliverable" -o "$large.pak" --program "$large.exe" >/dev/null || fail "cannot detach $deliverable"
  cp "$work/$id.payload/Korin3.EXE" "$work/$id.payload/Update.PAK" "$large.payload/"
  head -c 24M /dev/urandom >"$work/noise.bin"
  "$pak" add "$large.payload/Update.PAK" "$work/noise.bin" --as noise.bin --store >/dev/null &&
    "$pak" add "$large.pak" "$large.payload/Update.PAK" --as '#:\Update.PAK' >/dev/null &&
    "$pak" attach "$large.exe" "$large.pak" >/dev/null || fail "cannot make the large payload of $id"
  rm -f "$work/noise.bin" "$large.pak"

  args+=(--edition "$id" "$(winpath "$deliverable")" "$(winpath "$work/$id.texts")" "$(winpath "$signed")"
         "$(winpath "$work/$id.payload")" "$(winpath "$large.exe")" "$(winpath "$large.payload")")
done

# A prefix of its own: the tests write KORIN3.INI into its Windows folder.
export WINEPREFIX=$(realpath -m "$work/../wineprefix") KORIN_WINE_DESKTOP=1024x768
"$here/scripts/wine-prefix"
locale=$(locale_of "$code_page")
locale -a | grep -qix "${locale/UTF-8/utf8}" || fail "locale $locale is not generated (run scripts/setup)"

export LANG=$locale LC_ALL=$locale
if [[ $code_page == 1252 ]]; then args+=(--gtest_filter='Editions/AnyLocale.*'); else args+=(--gtest_filter='-Editions/AnyLocale.*'); fi
status=0
xvfb-run -a -s "-screen 0 1024x768x24" \
  "$here/scripts/wine-run" "$(winpath "$driver")" "${args[@]}" 2> >(grep -v '^X connection to' >&2) \
  || status=$?
# The prefix's server goes with the display, so the next run starts clean.
WINEPREFIX=$WINEPREFIX wineserver -k 2>/dev/null || true
exit $status
