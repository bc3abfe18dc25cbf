#!/usr/bin/env bash
# Checks the installed package: stages an install (cmake --install --prefix),
# builds examples/ against it through find_package(OrcaCloudStorage) and
# through pkg-config, and runs both builds of the example, the installed ocs
# and the installed ocs-emulator together.
#
#   OCS_BUILD_DIR=build/dev ./scripts/check-install.sh   use an existing build
#                                                        (default: release preset)
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/lib/emulator.sh

build=${OCS_BUILD_DIR:-build/release}
if [ -z "${OCS_BUILD_DIR:-}" ]; then
  cmake --preset release >/dev/null
fi
cmake --build "$build" -j "$(nproc)" --target orca_cloud_storage ocs ocs-emulator
build=$(cd "$build" && pwd)
stage=$build/stage
example=$build/example

rm -rf "$stage" "$example"
cmake --install "$build" --prefix "$stage" >/dev/null
echo "staged install in $stage"

# A sanitizer build's library needs host programs built with the same runtime.
sanitizers=$(sed -n 's/^ORCA_CS_SANITIZERS:STRING=//p' "$build/CMakeCache.txt")
flags=()
if [ -n "$sanitizers" ]; then flags=("-fsanitize=$sanitizers"); fi

cmake -S examples -B "$example" -G Ninja -DCMAKE_PREFIX_PATH="$stage" \
  -DCMAKE_CXX_FLAGS="${flags[*]}" >/dev/null
cmake --build "$example" >/dev/null
echo "built the example with find_package(OrcaCloudStorage)"

pc_dir=$(dirname "$(find "$stage" -name orca-cloud-storage.pc)")
pc() { PKG_CONFIG_PATH=$pc_dir pkg-config "$@" orca-cloud-storage; }
# shellcheck disable=SC2046 # pkg-config's flags are separate words
c++ -std=c++17 "${flags[@]}" examples/RoundTrip.cpp $(pc --cflags --libs) \
  -Wl,-rpath,"$(pc --variable=libdir)" -o "$example/round_trip_pkgconfig"
echo "built the example with pkg-config (orca-cloud-storage $(pc --modversion))"

work=$(mktemp -d "${TMPDIR:-/tmp}/ocs-install.XXXXXX")
cleanup() {
  stop_emulator
  rm -rf "$work"
}
trap cleanup EXIT
start_emulator "$stage/bin/ocs-emulator" "$work"

for program in "$example/round_trip" "$example/round_trip_pkgconfig"; do
  "$program" "$OCS_ADDRESS" "$OCS_UPLOAD_PORT" "$OCS_DOWNLOAD_PORT" "$OCS_POOL"
done
echo "installed ocs: $("$stage/bin/ocs" --version), service $("$stage/bin/ocs" version)"
echo "install check passed"
