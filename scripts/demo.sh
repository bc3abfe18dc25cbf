#!/usr/bin/env bash
# The library at work in one command: installs what is missing, builds ocs and
# ocs-emulator (release preset), starts the emulator on loopback with a
# temporary data directory, and drives it through ocs: a 64 MiB multipart
# upload with a progress bar, the download and its SHA-256, a byte range, a
# picture, a streamed upload from standard input, and a removal. Each step
# prints its throughput; the emulator stops on exit.
#
#   OCS_BUILD_DIR=build/dev ./scripts/demo.sh   use an existing build instead
#   OCS_DEMO_MIB=16 ./scripts/demo.sh           size of the big file (64)
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/lib/emulator.sh

./scripts/setup.sh
build=${OCS_BUILD_DIR:-build/release}
if [ -z "${OCS_BUILD_DIR:-}" ]; then
  cmake --preset release >/dev/null
  cmake --build "$build" -j "$(nproc)" --target ocs ocs-emulator
fi
build=$(cd "$build" && pwd)
export PATH="$build/cli:$PATH"
mib=${OCS_DEMO_MIB:-64}

work=$(mktemp -d "${TMPDIR:-/tmp}/ocs-demo.XXXXXX")
cleanup() {
  stop_emulator
  rm -rf "$work"
}
trap cleanup EXIT

# A 32x32 JPEG picture.
picture_base64='
/9j/4AAQSkZJRgABAQAAAQABAAD/2wBDAA0JCgsKCA0LCgsODg0PEyAVExISEyccHhcgLikxMC4p
LSwzOko+MzZGNywtQFdBRkxOUlNSMj5aYVpQYEpRUk//2wBDAQ4ODhMREyYVFSZPNS01T09PT09P
T09PT09PT09PT09PT09PT09PT09PT09PT09PT09PT09PT09PT09PT09PT0//wAARCAAgACADASIA
AhEBAxEB/8QAFQABAQAAAAAAAAAAAAAAAAAAAAX/xAAWEAADAAAAAAAAAAAAAAAAAAAAE2H/xAAW
AQEBAQAAAAAAAAAAAAAAAAAABgL/xAAVEQEBAAAAAAAAAAAAAAAAAAAAFP/aAAwDAQACEQMRAD8A
pvofSY+h9JuNQqb6H0mPofRGJj6H0mPofSpjZU30PpMfQ+iMf//Z'

started=$(date +%s.%N)
clock=0
say() { printf '\n== %s\n' "$*"; }
show() { printf '$ %s\n' "$*"; }
start_clock() { clock=$(date +%s.%N); }
# throughput LABEL BYTES: the time since start_clock and the rate.
throughput() {
  awk -v label="$1" -v bytes="$2" -v from="$clock" -v to="$(date +%s.%N)" 'BEGIN {
    s = to - from; mib = bytes / 1048576
    if (bytes == 0) printf "   %-28s %19s %6.3f s\n", label, "", s
    else if (bytes < 1048576) printf "   %-28s %8.2f KiB in %6.3f s = %8.1f KiB/s\n", label, bytes / 1024, s, (s > 0 ? bytes / 1024 / s : 0)
    else printf "   %-28s %8.2f MiB in %6.3f s = %8.1f MiB/s\n", label, mib, s, (s > 0 ? mib / s : 0)
  }'
}
sha() { sha256sum "$1" | cut -d' ' -f1; }
fail() {
  echo "demo FAILED: $*" >&2
  exit 1
}

start_emulator "$build/emulator/ocs-emulator" "$work"
say "ocs-emulator on $OCS_ADDRESS: upload port $OCS_UPLOAD_PORT, download port $OCS_DOWNLOAD_PORT," \
  "picture gateway $OCS_PIC_UPLOAD_PORT/$OCS_PIC_DOWNLOAD_PORT, pool $OCS_POOL"

big=$work/big.bin
head -c $((mib * 1048576)) /dev/urandom >"$big"
big_bytes=$(stat -c %s "$big")
big_sha=$(sha "$big")

say "Upload a $mib MiB file (multipart: 2 MiB parts on four threads)"
show "ocs put big.bin"
start_clock
url=$(ocs put "$big")
throughput "multipart upload" "$big_bytes"
echo "   object URL: $url"

say "Download it again and check its SHA-256"
show "ocs get $url back.bin"
start_clock
ocs get "$url" "$work/back.bin"
throughput "download to a file" "$big_bytes"
[ "$(sha "$work/back.bin")" = "$big_sha" ] || fail "the downloaded file differs"
echo "   SHA-256 $big_sha matches"

say "Read the second MiB only"
show "ocs cat $url --range 1048576-2097151 > range.bin"
start_clock
ocs cat "$url" --range 1048576-2097151 >"$work/range.bin"
throughput "ranged read" 1048576
if [ "$(stat -c %s "$work/range.bin")" != 1048576 ] ||
  ! cmp -s -i 1048576:0 -n 1048576 "$big" "$work/range.bin"; then
  fail "the range differs"
fi
echo "   the range matches bytes 1048576-2097151 of the file"

say "Store a picture through the picture gateway and fetch it back"
base64 -d <<<"$picture_base64" >"$work/picture.jpg"
picture_bytes=$(stat -c %s "$work/picture.jpg")
show "ocs pic put picture.jpg"
start_clock
picture_url=$(ocs pic put "$work/picture.jpg")
throughput "picture upload" "$picture_bytes"
echo "   picture URL: $picture_url"
show "ocs pic get $picture_url picture-back.jpg"
start_clock
ocs pic get "$picture_url" "$work/picture-back.jpg"
throughput "picture download" "$picture_bytes"
cmp -s "$work/picture.jpg" "$work/picture-back.jpg" || fail "the picture differs"
echo "   the picture matches"

say "Stream standard input as a piece-wise upload (2 MiB pieces, the last one marked)"
head -c $((16 * 1048576 + 12345)) /dev/urandom >"$work/stream.bin"
stream_bytes=$(stat -c %s "$work/stream.bin")
show "cat stream.bin | ocs put -"
start_clock
# shellcheck disable=SC2002 # a pipe: input of unknown length
stream_url=$(cat "$work/stream.bin" | ocs put -)
throughput "piece-wise upload" "$stream_bytes"
echo "   object URL: $stream_url"
[ "$(ocs cat "$stream_url" | sha256sum | cut -d' ' -f1)" = "$(sha "$work/stream.bin")" ] ||
  fail "the streamed object differs"
echo "   read back: SHA-256 matches"

say "Remove the big object and show that it is gone"
show "ocs rm $url"
start_clock
ocs rm "$url"
throughput "removal" 0
show "ocs cat $url"
if ocs cat "$url" >/dev/null 2>"$work/gone.txt"; then
  fail "the removed object is still there"
fi
grep -q NoSuchKey "$work/gone.txt" || fail "expected NoSuchKey, got: $(cat "$work/gone.txt")"
sed 's/^/   /' "$work/gone.txt"

say "ocs version: $(ocs version)"
awk -v from="$started" -v to="$(date +%s.%N)" 'BEGIN { printf "\nDemo done in %.1f s.\n", to - from }'
