#!/usr/bin/env bash
# scripts/release as a release engineer runs it: a generated payload folder
# (each edition's own Korin3.EXE and Update.PAK) and a throw-away
# certificate give one signed deliverable per edition, checked here
# independently of the script's own checks. What the script must refuse it
# refuses before building. A second, unsigned release in another tree, built
# later, gives the same bytes. Under Wine each deliverable then updates a game
# folder; where Wine cannot start that part is skipped and says so.
#
#   release_test.sh WORK_DIR BUILD_DIR HOST_PAK E2E_SHOW_EXE
set -euo pipefail
here=$(cd "$(dirname "$0")/../.." && pwd)
work=$1 build=$2 pak=$3 show=$4
fail() { echo "release test: $*" >&2; exit 1; }
release() { "$here/scripts/release" --build-dir "$build" "$@"; }
umask 022

# The editions, from their tables.
editions=() programs=()
for table in "$here"/driver/editions/*.txt; do
  grep -q '^code_page' "$table" || continue
  id=$(basename "$table" .txt)
  editions+=("$id") programs+=("upd${id#v}.exe")
done
((${#editions[@]})) || fail "no edition's table in driver/editions"
first=${editions[0]} last=${editions[-1]}

rm -rf "$work"
mkdir -p "$work/payload" "$work/marker"
cd "$work"
openssl req -x509 -newkey rsa:2048 -nodes -days 2 -subj "/CN=Korin release throw-away" \
  -keyout key.pem -out cert.pem 2>/dev/null
echo "not a real secret" >password
openssl pkcs12 -export -in cert.pem -inkey key.pem -out cert.pfx -passout file:password
openssl req -x509 -newkey rsa:2048 -nodes -days 2 -subj "/CN=Someone else" -keyout other-key.pem -out other.pem 2>/dev/null
echo wrong >wrong-password
for id in "${editions[@]}"; do
  mkdir -p "payload/$id"
  # More than one 64000-byte copy buffer, and different for every edition.
  { printf 'MZ'; head -c 150000 /dev/urandom; } >"payload/$id/Korin3.EXE"
  echo "Music of edition $id" >marker/Music01.txt
  "$pak" create "payload/$id/Update.PAK" --drives @ >/dev/null
  "$pak" add "payload/$id/Update.PAK" -C marker Music01.txt >/dev/null
done

# Refused before anything is built or written, each with its reason in words.
cp -r payload incomplete && rm "incomplete/$last/Update.PAK"
cp -r payload not-a-program && echo "text" >"not-a-program/$first/Korin3.EXE"
echo "a file" >a-file
signing="--sign cert.pfx --password-file password"
while IFS='|' read -r status arguments said; do
  read -ra args <<<"$arguments"
  code=0
  "$here/scripts/release" --build-dir unbuilt "${args[@]}" >refused.log 2>&1 || code=$?
  [[ $code == "$status" ]] || { cat refused.log; fail "release $arguments: exit $code, not $status"; }
  [[ ! -e unbuilt ]] || fail "release $arguments built before refusing"
  [[ ! -e refused ]] || fail "release $arguments wrote its output"
  grep -qF -- "$said" refused.log || { cat refused.log; fail "release $arguments does not say '$said'"; }
  ! grep -q 'routines\|^[0-9A-F]*:error:' refused.log || { cat refused.log; fail "release $arguments shows OpenSSL's text"; }
done <<END
2||--payload DIR is required
2|--payload payload --sign cert.pfx --out refused|--sign needs --password-file
2|--payload payload --ca cert.pem --out refused|belong to --sign
1|--payload incomplete --out refused|lacks $last/Update.PAK
1|--payload not-a-program --out refused|is no Windows program
1|--payload missing-folder --out refused|lacks
1|--payload payload --out a-file|is not a folder
1|--payload payload --out a-file/refused|is not a writable folder
1|--payload payload --sign cert.pem --password-file password --ca cert.pem --out refused|no PKCS#12 file
1|--payload payload --sign cert.pfx --password-file wrong-password --ca cert.pem --out refused|the password does not open
1|--payload payload $signing --out refused|give --ca
1|--payload payload $signing --ca other.pem --out refused|is not in --ca
END

expected_out=$(printf '%s\n' SHA256SUMS "${programs[@]}" | sort | paste -sd' ' -)
modes() { (cd "$1" && stat -c '%n %a' SHA256SUMS "${programs[@]}" | paste -sd' ' -); }
expected_modes=$(printf '%s 644' SHA256SUMS; printf ' %s 755' "${programs[@]}")
release --payload payload $signing --ca cert.pem --out out >release.log 2>&1 \
  || { cat release.log; fail "the release failed"; }
[[ $(ls out | sort | paste -sd' ' -) == "$expected_out" ]] || fail "out holds $(ls out)"
(cd out && sha256sum --quiet -c SHA256SUMS) || fail "SHA256SUMS does not match"
[[ $(wc -l <out/SHA256SUMS) == "${#programs[@]}" ]] || fail "SHA256SUMS lists $(wc -l <out/SHA256SUMS) files"
[[ $(modes out) == "$expected_modes" ]] || fail "the signed release's modes are $(modes out), not $expected_modes"
! grep -i 'warning' release.log || fail "the release log shows a warning"
for i in "${!editions[@]}"; do
  id=${editions[$i]} program=out/${programs[$i]}
  osslsigncode verify -CAfile cert.pem -in "$program" >verify.log 2>&1 || { cat verify.log; fail "$program does not verify"; }
  grep -q "Korin release throw-away" verify.log || fail "$program is not signed with the given certificate"
  "$pak" extract "$program" -C "unpacked/$id" >/dev/null || fail "$program does not unpack"
  for file in Korin3.EXE Update.PAK; do
    cmp -s "unpacked/$id/$file" "payload/$id/$file" || fail "$program carries another $file than payload/$id"
  done
  # Its unsigned form's digest is printed before it is signed.
  digest=$(sha256sum "$build/dist/${programs[$i]}" | cut -d' ' -f1)
  sed '/^== signing/q' release.log | grep -q "^  $digest  dist/${programs[$i]}$" \
    || fail "the release does not print the SHA-256 of ${programs[$i]} before signing"
done

# A release is replaced only when asked, and a signed one never by an
# unsigned one; either refusal comes before the build and changes nothing.
cp out/SHA256SUMS before
while IFS='|' read -r arguments said; do
  read -ra args <<<"$arguments"
  "$here/scripts/release" --build-dir unbuilt "${args[@]}" >refused.log 2>&1 && fail "release $arguments replaced a release"
  grep -qF -- "$said" refused.log || { cat refused.log; fail "release $arguments does not say '$said'"; }
  [[ ! -e unbuilt ]] || fail "release $arguments built before refusing"
  cmp -s before out/SHA256SUMS || fail "release $arguments changed out"
done <<END
--payload payload $signing --ca cert.pem --out out|give --replace
--payload payload --out out --replace|an unsigned one never replaces it
END
release --payload payload $signing --ca cert.pem --out out --replace >replaced.log 2>&1 \
  || { cat replaced.log; fail "release --replace did not replace a signed release with a signed one"; }
(cd out && sha256sum --quiet -c SHA256SUMS) || fail "the replaced release does not match its SHA256SUMS"

# The same sources and payload, built again later in another tree, give the
# same bytes: the deliverables, the Windows tools and the native ones. The
# unsigned release has the signed one's modes.
again=$build-built-again-elsewhere
"$here/scripts/release" --build-dir "$again" --payload payload --out out-unsigned >unsigned.log 2>&1 \
  || { cat unsigned.log; fail "the unsigned release failed"; }
[[ $(modes out-unsigned) == "$expected_modes" ]] || fail "the unsigned release's modes are $(modes out-unsigned), not $expected_modes"
for file in "${programs[@]/#/dist/}" bin/pak.exe bin/cfgtool.exe host/bin/pak host/bin/cfgtool; do
  cmp "$build/$file" "$again/$file" || fail "$file differs between two builds of the same sources"
done
digests() { sed -n '/^== SHA-256/,/^==/p' "$1" | grep '^  '; }
[[ $(digests release.log) == "$(digests unsigned.log)" ]] || fail "the two builds print different SHA-256"
echo "release test: ${#programs[@]} signed deliverables verify, carry their payloads and match SHA256SUMS; two builds agree byte for byte"

# Under Wine: each deliverable updates an installed game of its edition.
if ! wine --version >/dev/null 2>&1; then
  echo "release test: SKIPPED updating a game folder under Wine: this kernel runs no 32-bit programs"
  exit 0
fi
winpath() { local p; p=$(realpath -m "$1"); echo "Z:${p//\//\\}"; }
export WINEPREFIX=$work/wineprefix KORIN_WINE_DESKTOP=1024x768
"$here/scripts/wine-prefix" >/dev/null
game=$WINEPREFIX/drive_c/Games/Korin3
for i in "${!editions[@]}"; do
  id=${editions[$i]} program=${programs[$i]}
  table=$here/driver/editions/$id.txt
  case $(sed -n 's/^code_page\t//p' "$table") in 950) locale=zh_TW.UTF-8 ;; *) locale=zh_CN.UTF-8 ;; esac
  rm -rf "$game" && mkdir -p "$game"
  truncate -s $(($(sed -n 's/^expected_pak_size\t//p' "$table"))) "$game/Korin3.PAK"
  printf 'MZ the installed game\n' >"$game/Korin3.EXE"
  "$pak" create "$game/Update.PAK" --drives @ >/dev/null
  { head -c 768 /dev/zero; printf '\x08\x03\x00\x00\x01\x00\x00\x00Korin3.PAK\0'; } >"$game/INSTALL.DAT"
  printf '[INI]\r\nGAMEDIR=C:\\Games\\Korin3\r\n' >"$WINEPREFIX/drive_c/windows/KORIN3.INI"
  LANG=$locale LC_ALL=$locale xvfb-run -a -s "-screen 0 1024x768x24" "$here/scripts/wine-run" \
    "$(winpath "$show")" "$(winpath "out/$program")" "$(winpath "$work/$id")" >"$id.log" 2>&1 \
    || { cat "$id.log"; fail "$program did not run to its message under Wine"; }
  WINEPREFIX=$WINEPREFIX wineserver -k 2>/dev/null || true
  for file in Korin3.EXE Update.PAK; do
    cmp -s "$game/$file" "payload/$id/$file" || fail "$program did not install its $file"
  done
  grep -q "Update.PAK" "$game/INSTALL.DAT" || fail "$program did not add Update.PAK to INSTALL.DAT"
done
echo "release test: each signed deliverable updated a game folder under Wine"
