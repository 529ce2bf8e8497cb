#!/usr/bin/env bash
# Installs the Debian packages the build and the tests need, when they are missing.
set -euo pipefail
packages=(cmake ninja-build g++ pkg-config libusb-1.0-0-dev libcfitsio-dev libpng-dev
          libgtest-dev libgmock-dev libbenchmark-dev
          clang libclang-rt-14-dev   # clang and its libFuzzer runtime: the fuzz targets
          umockdev libumockdev-dev   # emulated USB devices for the libusb backend's tests
          libindi-dev indi-bin       # the INDI driver and indiserver for its test
          pybind11-dev python3-dev python3-numpy python3-pytest)  # the Python module and its tests
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  echo "Installing: ${missing[*]}"
  SUDO=""; [ "$(id -u)" -ne 0 ] && SUDO="sudo"
  $SUDO apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq "${missing[@]}"
fi
