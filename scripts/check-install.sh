#!/usr/bin/env bash
# Checks what a host gets, twice: from a staged install (cmake --install
# --prefix) and from the Debian packages (package preset, unpacked with
# dpkg -x into a scratch root). Each time it builds examples/ against the
# install through find_package(OrcaCloudStorage) and through pkg-config, and
# runs both builds of the example and the installed ocs against the installed
# ocs-emulator. The library, pkg-config and the packages must tell the
# project's version, and the packages must carry their dependencies.
#
#   OCS_BUILD_DIR=build/dev ./scripts/check-install.sh   stage an existing build
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
version=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' "$build/CMakeCache.txt")

work=$(mktemp -d "${TMPDIR:-/tmp}/ocs-install.XXXXXX")
cleanup() {
  stop_emulator
  rm -rf "$work"
}
trap cleanup EXIT

fail() {
  echo "check-install: $*" >&2
  exit 1
}

# check_install NAME PREFIX EXAMPLE_DIR LIBRARY_PATH [CXXFLAGS...]
#   Builds examples/ in EXAMPLE_DIR against the install at PREFIX, runs it
#   and PREFIX's ocs (with LD_LIBRARY_PATH=LIBRARY_PATH when not empty)
#   against PREFIX's ocs-emulator.
check_install() {
  local name=$1 prefix=$2 example=$3 library_path=$4
  shift 4
  local flags=("$@")
  rm -rf "$example"
  cmake -S examples -B "$example" -G Ninja -DCMAKE_PREFIX_PATH="$prefix" \
    -DCMAKE_CXX_FLAGS="${flags[*]}" >/dev/null
  cmake --build "$example" >/dev/null
  echo "$name: built the example with find_package(OrcaCloudStorage)"

  local pc_dir
  pc_dir=$(dirname "$(find "$prefix" -name orca-cloud-storage.pc)")
  pc() { PKG_CONFIG_PATH=$pc_dir pkg-config "$@" orca-cloud-storage; }
  [ "$(pc --modversion)" = "$version" ] || fail "$name: pkg-config says $(pc --modversion)"
  # shellcheck disable=SC2046 # pkg-config's flags are separate words
  c++ -std=c++17 "${flags[@]}" examples/RoundTrip.cpp $(pc --cflags --libs) \
    -Wl,-rpath,"$(pc --variable=libdir)" -o "$example/round_trip_pkgconfig"
  echo "$name: built the example with pkg-config (orca-cloud-storage $(pc --modversion))"

  [ -s "$prefix/share/man/man1/ocs.1" ] || fail "$name: no man page"
  bash -n "$prefix/share/bash-completion/completions/ocs" || fail "$name: bad completion"

  local ocs=("$prefix/bin/ocs") output
  if [ -n "$library_path" ]; then ocs=(env "LD_LIBRARY_PATH=$library_path" "${ocs[@]}"); fi
  start_emulator "$prefix/bin/ocs-emulator" "$work"
  for program in "$example/round_trip" "$example/round_trip_pkgconfig"; do
    output=$("$program" "$OCS_ADDRESS" "$OCS_UPLOAD_PORT" "$OCS_DOWNLOAD_PORT" "$OCS_POOL")
    echo "$output"
    [ "$(head -n1 <<<"$output")" = "libOrcaCloudStorage $version (header $version)" ] ||
      fail "$name: the example did not report version $version"
  done
  echo "$name: ocs: $("${ocs[@]}" --version), service $("${ocs[@]}" version)"
  stop_emulator
}

# The staged install of $build.
stage=$build/stage
rm -rf "$stage"
cmake --install "$build" --prefix "$stage" >/dev/null
echo "staged install in $stage"
# A sanitizer build's library needs host programs built with the same runtime.
sanitizers=$(sed -n 's/^ORCA_CS_SANITIZERS:STRING=//p' "$build/CMakeCache.txt")
stage_flags=()
if [ -n "$sanitizers" ]; then stage_flags=("-fsanitize=$sanitizers"); fi
check_install "staged install" "$stage" "$build/example" "" "${stage_flags[@]}"

# The Debian packages, from their own optimised build without sanitizers.
cmake --preset package >/dev/null
cmake --build --preset package -j "$(nproc)"
package_build=$PWD/build/package
rm -rf "$package_build/packages"
cpack --preset package >/dev/null
lib_package=liborcacloudstorage${version%%.*}
declare -A debs
for deb in "$package_build"/packages/*.deb; do
  debs[$(dpkg-deb -f "$deb" Package)]=$deb
done
for name in "$lib_package" liborcacloudstorage-dev ocs-tools; do
  [ -n "${debs[$name]:-}" ] || fail "no package $name"
  deb_version=$(dpkg-deb -f "${debs[$name]}" Version)
  [ "${deb_version%-*}" = "$version" ] || fail "$name is version $deb_version"
  depends=$(dpkg-deb -f "${debs[$name]}" Depends)
  echo "$name $deb_version: Depends: $depends"
  if [ "$name" = "$lib_package" ]; then
    # From dpkg-shlibdeps: the Debian packages of libc, libcurl and the rest.
    grep -q 'libc6 (>= ' <<<"$depends" || fail "$name: no library dependencies"
  else
    grep -qF "$lib_package (= $deb_version)" <<<"$depends" ||
      fail "$name does not depend on $lib_package $deb_version"
  fi
done
root=$package_build/root
rm -rf "$root"
for deb in "${debs[@]}"; do dpkg -x "$deb" "$root"; done
echo "unpacked the packages in $root"
libdir=$(dirname "$(find "$root" -name 'libOrcaCloudStorage.so.*.*.*')")
check_install "packages" "$root/usr" "$package_build/example" "$libdir"
echo "install check passed"
