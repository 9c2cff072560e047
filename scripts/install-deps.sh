#!/usr/bin/env bash
# Installs the Debian packages Velmo needs, when they are missing.
set -euo pipefail
# clang with its fuzzer runtime and OpenMP: the libFuzzer targets (run-fuzz.sh).
packages=(g++ cmake make libopenmpi-dev openmpi-bin libgtest-dev libgif-dev
          clang libclang-rt-dev libomp-dev)
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  echo "installing: ${missing[*]}"
  export DEBIAN_FRONTEND=noninteractive
  apt-get update -qq
  apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi
