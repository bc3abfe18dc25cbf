#!/usr/bin/env bash
# Download of a large object to a file: the library against curl, from the
# same emulator in the same run.
#
#   streamed  CObjectClient::DownloadFile over HTTP    vs  curl -o over HTTP
#   ranged    CObjectClient::DownloadFile over HTTPS   vs  curl -o over HTTPS
#             (1 MiB ranges)                               (one request)
#
# Each side runs RUNS times, alternating; the best throughput of each counts.
# The object is a generated one (served by the emulator without a stored
# copy), so both sides pay the same server cost. The emulator runs without
# signature checks, which lets curl fetch the object unsigned.
#
# Usage: bench/download_bench.sh [BUILD_DIR] [SIZE_MIB] [RUNS]
#   BUILD_DIR  a build with ocs-emulator and download_probe (default build/release)
#   SIZE_MIB   object size (default 256)   RUNS  runs per side (default 3)
set -euo pipefail

build=${1:-build/release}
size_mib=${2:-256}
runs=${3:-3}
emulator=$build/emulator/ocs-emulator
probe=$build/tests/download/download_probe
for tool in "$emulator" "$probe"; do
  [[ -x $tool ]] || { echo "missing $tool: build ocs-emulator and download_probe" >&2; exit 1; }
done

work=$(mktemp -d)
pids=()
cleanup() {
  for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; wait "$pid" 2>/dev/null || true; done
  rm -rf "$work"
}
trap cleanup EXIT

# Starts an emulator with the given extra options; sets `ports`: its upload
# and download ports.
start_emulator() {
  local name=$1; shift
  "$emulator" --no-auth --pool bench:AK:SK --data-dir "$work/$name-data" "$@" \
    >"$work/$name.out" 2>"$work/$name.err" &
  pids+=($!)
  for _ in $(seq 100); do
    if grep -q '^OCS-EMULATOR ' "$work/$name.out"; then
      ports=$(sed -n 's/^OCS-EMULATOR //p' "$work/$name.out" |
        python3 -c 'import json,sys; e=json.load(sys.stdin); print(e["upload"], e["download"])')
      return
    fi
    sleep 0.1
  done
  echo "emulator $name did not start: $(cat "$work/$name.err")" >&2
  exit 1
}

openssl req -x509 -newkey rsa:2048 -nodes -days 1 -subj /CN=127.0.0.1 \
  -addext subjectAltName=IP:127.0.0.1 -keyout "$work/key.pem" -out "$work/cert.pem" 2>/dev/null
start_emulator http
http_ports=$ports
start_emulator https --tls-cert "$work/cert.pem" --tls-key "$work/key.pem"
https_ports=$ports
export ORCA_CS_CA_BUNDLE=$work/cert.pem

url=/bench/gen-${size_mib}M-7.bin
bytes=$((size_mib * 1048576))
out=$work/object.bin

# Seconds taken by one library download; the file must be the whole object.
library() {  # scheme upload-port download-port
  local flag=""
  [[ $1 == https ]] && flag=--https
  local report
  report=$("$probe" --quiet $flag --upload-port "$2" --download-port "$3" --pool bench \
    --ak AK --sk SK --url "$url" --out "$out")
  [[ $report == *"bytes=$bytes "* ]] || { echo "library download failed: $report" >&2; exit 1; }
  local seconds=${report##* seconds=}
  echo "${seconds%% *}"
}

# Seconds taken by curl -o of the same object.
curl_get() {  # scheme upload-port download-port
  local report
  report=$(curl -sS --fail --cacert "$work/cert.pem" -o "$out" \
    -w '%{size_download} %{time_total}' "$1://127.0.0.1:$3$url")
  [[ ${report% *} == "$bytes" ]] || { echo "curl download failed: $report" >&2; exit 1; }
  echo "${report#* }"
}

# Prints the best throughput of each side in MiB/s and their ratio.
compare() {  # label scheme upload-port download-port
  local best_lib="" best_curl=""
  for _ in $(seq "$runs"); do
    rm -f "$out"; local t_lib; t_lib=$(library "$2" "$3" "$4")
    rm -f "$out"; local t_curl; t_curl=$(curl_get "$2" "$3" "$4")
    best_lib=$(python3 -c "print(min(x for x in [$t_lib, ${best_lib:-1e9}]))")
    best_curl=$(python3 -c "print(min(x for x in [$t_curl, ${best_curl:-1e9}]))")
  done
  python3 - "$1" "$best_lib" "$best_curl" "$size_mib" <<'EOF'
import sys
label, lib, curl, mib = sys.argv[1], float(sys.argv[2]), float(sys.argv[3]), float(sys.argv[4])
print(f"{label:9s} library {mib / lib:8.1f} MiB/s   curl {mib / curl:8.1f} MiB/s   "
      f"ratio {curl / lib:.2f}x")
EOF
}

echo "object ${size_mib} MiB, best of $runs runs"
# shellcheck disable=SC2086 # two ports each
compare streamed http $http_ports
# shellcheck disable=SC2086
compare ranged https $https_ports
