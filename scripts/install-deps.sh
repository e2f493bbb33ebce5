#!/usr/bin/env bash
# Installs the Debian 12 packages of the named groups, only those that are
# missing. Uses sudo when not run as root.
#
#   scripts/install-deps.sh run            what building and running the program needs
#   scripts/install-deps.sh run test       ... and what the test suite needs
#
# A group is one function below; add a package to the group that needs it.
set -euo pipefail

group_run() {
  echo build-essential cmake pkg-config
  echo qt6-base-dev libgl-dev libudev-dev
  # Platform plugins (X11, Wayland) and the SVG icon engine for the window icon.
  echo qt6-qpa-plugins qt6-wayland libqt6svg6
  echo fonts-dejavu-core
  # The Chinese hints and East Asian text (GB18030, Shift_JIS, EUC-KR).
  echo fonts-wqy-microhei
}

group_test() {
  echo libgtest-dev libgmock-dev socat
  # The peer of the remote serial port tests.
  echo ser2net
  # A Modbus RTU server for the shell's command-list tests (pymodbus needs
  # pyserial and its asyncio part for serial lines).
  echo python3-pymodbus python3-serial python3-serial-asyncio
  # The Modbus RTU master that the answer rules are tested against.
  echo mbpoll
  # Reads the pcapng captures back (tshark, capinfos).
  echo tshark
  # The far end of the file transfer tests: XMODEM and YMODEM senders and receivers.
  echo lrzsz
}

group_bench() {
  echo libbenchmark-dev socat ser2net
  # The Modbus RTU server the answer rules are measured against.
  echo mbpoll python3-pymodbus python3-serial python3-serial-asyncio
  # The far end of the transfer benchmark: XMODEM and YMODEM senders and receivers.
  echo lrzsz
}

# make fuzz: clang with libFuzzer's runtime, and Qt Core for the text converters.
group_fuzz() {
  echo clang libclang-rt-14-dev cmake qt6-base-dev
}

# Building the Debian package and checking its desktop entry and metainfo.
group_package() {
  echo dpkg-dev desktop-file-utils appstream
}

[ $# -gt 0 ] || set -- run

packages=()
for group in "$@"; do
  if ! declare -F "group_$group" >/dev/null; then
    echo "install-deps.sh: unknown group '$group'" >&2
    exit 2
  fi
  read -r -a more <<<"$("group_$group" | tr '\n' ' ')"
  packages+=("${more[@]}")
done

missing=()
for p in $(printf '%s\n' "${packages[@]}" | sort -u); do
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
