#!/usr/bin/env bash
# Installs the Debian packages the build and the tests need, when any is missing.
set -eu
packages=(
  build-essential cmake ninja-build g++ clang libclang-rt-14-dev
  libgtest-dev libgmock-dev libbenchmark-dev
  qt6-base-dev libhunspell-dev hunspell-en-us fonts-liberation2
  libtiff-dev libtiff-tools libspandsp-dev efax
  python3-dbf python3-dbfread xvfb poppler-utils pkg-config
  libreoffice-writer-nogui
)
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  echo "Installing: ${missing[*]}"
  sudo=""; [ "$(id -u)" -eq 0 ] || sudo=sudo
  $sudo apt-get update
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y "${missing[@]}"
fi
