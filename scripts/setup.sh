#!/usr/bin/env bash
# Installs the Debian 12 packages the build and the tests need (as root),
# when any of them is missing.
set -euo pipefail

packages=(cmake ninja-build g++ perl googletest nlohmann-json3-dev clang-format clang
          libclang-rt-14-dev libbenchmark-dev libssl-dev)
if [[ "${ZEV_WINDOWS:-1}" == 1 ]]; then
  packages+=(g++-mingw-w64-x86-64-posix mingw-w64-tools wine wine64 libfaketime
             osslsigncode openssl python3-jsonschema)
fi

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
    missing+=("$p")
  fi
done
if ((${#missing[@]})); then
  echo "Installing: ${missing[*]}"
  export DEBIAN_FRONTEND=noninteractive
  apt-get update
  apt-get install -y --no-install-recommends "${missing[@]}"
fi
