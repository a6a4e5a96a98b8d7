#!/usr/bin/env bash
# scripts/release as a release engineer runs it: a generated payload folder
# (each edition's own Korin3.EXE and Update.PAK) and a throw-away
# certificate give three signed deliverables, checked here independently of
# the script's own checks. Under Wine each one then updates a game folder;
# where Wine cannot start that part is skipped and says so.
#
#   release_test.sh WORK_DIR BUILD_DIR HOST_PAK E2E_SHOW_EXE
set -euo pipefail
here=$(cd "$(dirname "$0")/../.." && pwd)
work=$1 build=$2 pak=$3 show=$4
fail() { echo "release test: $*" >&2; exit 1; }
release() { "$here/scripts/release" --build-dir "$build" "$@"; }

rm -rf "$work"
mkdir -p "$work/payload" "$work/marker"
cd "$work"
openssl req -x509 -newkey rsa:2048 -nodes -days 2 -subj "/CN=Korin release throw-away" \
  -keyout key.pem -out cert.pem 2>/dev/null
echo "not a real secret" >password
openssl pkcs12 -export -in cert.pem -inkey key.pem -out cert.pfx -passout file:password
echo wrong >wrong-password
editions=(v106c v106 v21)
for id in "${editions[@]}"; do
  mkdir -p "payload/$id"
  # More than one 64000-byte copy buffer, and different for every edition.
  { printf 'MZ'; head -c 150000 /dev/urandom; } >"payload/$id/Korin3.EXE"
  echo "Music of edition $id" >marker/Music01.txt
  "$pak" create "payload/$id/Update.PAK" --drives @ >/dev/null
  "$pak" add "payload/$id/Update.PAK" marker/Music01.txt >/dev/null
done

# Refused before anything is built; nothing is written.
cp -r payload incomplete && rm incomplete/v21/Update.PAK
cp -r payload not-a-program && echo "text" >not-a-program/v106/Korin3.EXE
while IFS='|' read -r status arguments; do
  read -ra args <<<"$arguments"
  code=0
  release "${args[@]}" --out refused >/dev/null 2>&1 || code=$?
  [[ $code == "$status" ]] || fail "release $arguments: exit $code, not $status"
  [[ ! -e refused ]] || fail "release $arguments wrote its output"
done <<'EOF'
2|
2|--payload payload --sign cert.pfx
2|--payload payload --ca cert.pem
1|--payload incomplete
1|--payload not-a-program
1|--payload missing-folder
EOF

release --payload payload --sign cert.pfx --password-file password --ca cert.pem --out out >release.log 2>&1 \
  || { cat release.log; fail "the release failed"; }
[[ $(ls out | paste -sd' ' -) == "SHA256SUMS upd106.exe upd106c.exe upd21.exe" ]] || fail "out holds $(ls out)"
(cd out && sha256sum --quiet -c SHA256SUMS) || fail "SHA256SUMS does not match"
[[ $(wc -l <out/SHA256SUMS) == 3 ]] || fail "SHA256SUMS lists $(wc -l <out/SHA256SUMS) files"
for id in "${editions[@]}"; do
  program=out/upd${id#v}.exe
  osslsigncode verify -CAfile cert.pem -in "$program" >verify.log 2>&1 || { cat verify.log; fail "$program does not verify"; }
  grep -q "Korin release throw-away" verify.log || fail "$program is not signed with the given certificate"
  "$pak" extract "$program" -C "unpacked/$id" >/dev/null || fail "$program does not unpack"
  for file in Korin3.EXE Update.PAK; do
    cmp -s "unpacked/$id/$file" "payload/$id/$file" || fail "$program carries another $file than payload/$id"
  done
done

# A wrong password fails after the build and leaves the release as it was.
cp out/SHA256SUMS before
release --payload payload --sign cert.pfx --password-file wrong-password --ca cert.pem --out out >/dev/null 2>&1 \
  && fail "the release signed with a wrong password"
cmp -s before out/SHA256SUMS || fail "a failed release changed out"
echo "release test: three signed deliverables verify, carry their payloads and match SHA256SUMS"

# Under Wine: each deliverable updates an installed game of its edition.
if ! wine --version >/dev/null 2>&1; then
  echo "release test: SKIPPED updating a game folder under Wine: this kernel runs no 32-bit programs"
  exit 0
fi
winpath() { local p; p=$(realpath -m "$1"); echo "Z:${p//\//\\}"; }
export WINEPREFIX=$work/wineprefix KORIN_WINE_DESKTOP=1024x768
"$here/scripts/wine-prefix" >/dev/null
game=$WINEPREFIX/drive_c/Games/Korin3
for id in "${editions[@]}"; do
  table=$here/driver/editions/$id.txt
  case $(sed -n 's/^code_page\t//p' "$table") in 950) locale=zh_TW.UTF-8 ;; *) locale=zh_CN.UTF-8 ;; esac
  rm -rf "$game" && mkdir -p "$game"
  truncate -s $(($(sed -n 's/^expected_pak_size\t//p' "$table"))) "$game/Korin3.PAK"
  printf 'MZ the installed game\n' >"$game/Korin3.EXE"
  "$pak" create "$game/Update.PAK" --drives @ >/dev/null
  { head -c 768 /dev/zero; printf '\x08\x03\x00\x00\x01\x00\x00\x00Korin3.PAK\0'; } >"$game/INSTALL.DAT"
  printf '[INI]\r\nGAMEDIR=C:\\Games\\Korin3\r\n' >"$WINEPREFIX/drive_c/windows/KORIN3.INI"
  LANG=$locale LC_ALL=$locale xvfb-run -a -s "-screen 0 1024x768x24" "$here/scripts/wine-run" \
    "$(winpath "$show")" "$(winpath "out/upd${id#v}.exe")" "$(winpath "$work/$id")" >"$id.log" 2>&1 \
    || { cat "$id.log"; fail "upd${id#v}.exe did not run to its message under Wine"; }
  WINEPREFIX=$WINEPREFIX wineserver -k 2>/dev/null || true
  for file in Korin3.EXE Update.PAK; do
    cmp -s "$game/$file" "payload/$id/$file" || fail "upd${id#v}.exe did not install its $file"
  done
  grep -q "Update.PAK" "$game/INSTALL.DAT" || fail "upd${id#v}.exe did not add Update.PAK to INSTALL.DAT"
done
echo "release test: each signed deliverable updated a game folder under Wine"
