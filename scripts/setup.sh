#!/usr/bin/env bash
# Installs the Debian packages the build, the tests, the demo, the API
# reference and the Debian packages of the project need.
# Idempotent: apt runs only when something is missing.
set -euo pipefail

packages=(
  g++ cmake ninja-build pkg-config git
  libssl-dev openssl libcurl4-openssl-dev curl
  libpugixml-dev rapidjson-dev libcpp-httplib-dev libcli11-dev
  libgtest-dev libgmock-dev libbenchmark-dev
  clang libclang-rt-14-dev
  gnuplot-nox python3
  doxygen help2man dpkg-dev file
)

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
    missing+=("$p")
  fi
done

if ((${#missing[@]} == 0)); then
  exit 0
fi

sudo=""
if [ "$(id -u)" -ne 0 ]; then sudo="sudo"; fi
echo "setup: installing ${missing[*]}"
$sudo apt-get update -q
DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -q --no-install-recommends "${missing[@]}"
