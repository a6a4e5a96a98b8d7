#!/usr/bin/env bash
# An entry of any size is read and written a chunk at a time: pak's resident
# peak stays under 64 MB for a packed entry of 1.98 GiB (extract, with and
# without -j, cat and verify) and for a stored one of 300 MB (add, extract,
# cat), where holding the entry whole takes its size.
# The packed archive is written here byte by byte: 16 MiB of zeros deflated
# once and repeated, which takes a second where packing 2 GiB takes many.
# Usage: memory_bound.sh PAK. Exit 77 (skipped) without GNU time or python3,
# or where the file system keeps no sparse file.
set -u
pak=$(cd "$(dirname "$1")" && pwd)/$(basename "$1")
bound_kb=$((64 * 1024))
if [[ ! -x /usr/bin/time ]] || ! command -v python3 >/dev/null; then
  echo "skipped: /usr/bin/time (Debian package time) or python3 is missing"
  exit 77
fi
dir=$(mktemp -d)
trap 'rm -rf "$dir"' EXIT
cd "$dir" || exit 1
truncate -s 300000000 stored.bin || exit 1
if (($(stat -c %b stored.bin) > 1024)); then
  echo "skipped: this file system keeps no sparse file"
  exit 77
fi
# The sanitizer keeps freed blocks aside (256 MB by default), which is no
# memory that pak holds.
export ASAN_OPTIONS=${ASAN_OPTIONS:+$ASAN_OPTIONS:}quarantine_size_mb=0:detect_leaks=0

python3 - big.pak <<'EOF' || exit 1
import struct, sys, zlib
chunk, count = 16 << 20, 127
size = chunk * count
c = zlib.compressobj(6, zlib.DEFLATED, -15)
piece = c.compress(bytes(chunk)) + c.flush(zlib.Z_FULL_FLUSH)
# After a full flush the deflater starts afresh: the same input, the same bytes.
assert c.compress(bytes(chunk)) + c.flush(zlib.Z_FULL_FLUSH) == piece
end = c.flush(zlib.Z_FINISH)
stream = bytearray(b"\x78\x9c")
stream[0] ^= 0x3D
check = (size % 65521) << 16 | 1  # Adler-32 of zeros
with open(sys.argv[1], "wb") as f:
    stored = 8 + 2 + len(piece) * count + len(end) + 4
    f.write(b"PAKS" + struct.pack("<II", 1, 24 + stored) + b"##\0\0" + struct.pack("<II", 0, 0))
    f.write(struct.pack("<II", size, stored - 8) + stream)
    for _ in range(count):
        f.write(piece)
    f.write(end + struct.pack(">I", check))
    f.write(struct.pack("<II", stored, 24) + bytes(16) + b"big.bin".ljust(40, b"\0"))
EOF

failed=0
# peak WHAT COMMAND...: runs the command (which must succeed) and checks its
# resident peak.
peak() {
  local what=$1 kb
  shift
  if ! /usr/bin/time -f '%M %e' -o time.txt "$@" 2>err.txt; then
    echo "FAIL: $what exits with an error: $(cat err.txt)"
    failed=1
    return
  fi
  read -r kb seconds < <(tail -1 time.txt)
  echo "$what: peak $((kb / 1024)) MB, $seconds s"
  if ((kb > bound_kb)); then
    echo "FAIL: $what takes $((kb / 1024)) MB, more than $((bound_kb / 1024)) MB"
    failed=1
  fi
}

peak "verify, 1.98 GiB packed" bash -c '"$1" verify big.pak >/dev/null' - "$pak"
peak "cat, 1.98 GiB packed" bash -c '"$1" cat big.pak big.bin | wc -c >count.txt' - "$pak"
[[ $(cat count.txt) == $((127 << 24)) ]] || { echo "FAIL: cat wrote $(cat count.txt) bytes"; failed=1; }
# -j 2 too: beside the entry, small ones that the threads hold whole.
printf 'small\n' >small.txt
"$pak" add big.pak small.txt || exit 1
for jobs in 1 2; do
  peak "extract -j $jobs, 1.98 GiB packed" "$pak" extract -j "$jobs" big.pak -C out
  [[ $(stat -c %s out/big.bin 2>/dev/null) == $((127 << 24)) ]] || { echo "FAIL: extract -j $jobs wrote no whole file"; failed=1; }
  rm -rf out
done

"$pak" create small.pak || exit 1
peak "add --store, 300 MB" "$pak" add small.pak stored.bin --store
peak "extract, 300 MB stored" "$pak" extract small.pak -C out
cmp -s stored.bin out/stored.bin || { echo "FAIL: the stored entry was extracted otherwise"; failed=1; }
peak "cat, 300 MB stored" bash -c '"$1" cat small.pak stored.bin | cmp -s - stored.bin' - "$pak"
exit $failed
