#!/usr/bin/env bash
# Installs the Debian 12 packages the build, the tests and the program need,
# and only those that are missing. Uses sudo when not run as root.
set -euo pipefail

packages=(
  build-essential cmake pkg-config
  qt6-base-dev libgl-dev libudev-dev
  libgtest-dev libgmock-dev libbenchmark-dev
  fonts-dejavu-core socat
)
# make fuzz: clang with libFuzzer's runtime.
fuzz_packages=(clang libclang-rt-14-dev)
packages+=("${fuzz_packages[@]}")

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$p")
  fi
done
[ ${#missing[@]} -eq 0 ] && exit 0

sudo=""
if [ "$(id -u)" -ne 0 ]; then
  sudo="sudo"
fi
echo "Installing: ${missing[*]}"
$sudo apt-get update -qq
DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}"
