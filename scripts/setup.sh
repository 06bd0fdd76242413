#!/usr/bin/env bash
# Installs what the build and the tests need (Debian packages), when missing:
# the Linux toolchain and test libraries, Chromium for the survey report's
# browser test, and for the Windows library the
# MinGW-w64 cross compilers and Wine (wine32 runs the 32-bit DLL; it needs
# the i386 architecture).
set -euo pipefail
pkgs=(cmake g++ make pkg-config libgtest-dev libgmock-dev libbenchmark-dev libeigen3-dev python3 python3-mpmath
      python3-dev python3-pybind11 pybind11-dev python3-numpy python3-pandas python3-matplotlib
      python3-dask python3-distributed python3-pytest python3-setuptools python3-mypy chromium python3-websocket
      python3-pil
      g++-mingw-w64-i686 g++-mingw-w64-x86-64 binutils-mingw-w64 wine wine32 wine64)
missing=()
for p in "${pkgs[@]}"; do
  dpkg -s "$p" >/dev/null 2>&1 || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  echo "Installing: ${missing[*]}"
  SUDO=""
  [ "$(id -u)" -ne 0 ] && SUDO="sudo"
  if [[ " ${missing[*]} " == *" wine32 "* ]] && ! dpkg --print-foreign-architectures | grep -qx i386; then
    $SUDO dpkg --add-architecture i386
  fi
  $SUDO apt-get update -qq || true
  $SUDO env DEBIAN_FRONTEND=noninteractive apt-get install -y -qq "${missing[@]}"
fi
