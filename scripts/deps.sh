#!/usr/bin/env bash
# Installs, with apt-get, the Debian 12 packages that building and testing
# Tersolv needs, and only those that are missing.
#
# LibreOffice Calc: either package counts as present. The full
# `libreoffice-calc` (the one with windows, which panel users need) is
# installed where neither is; it runs headless too, so the tests need nothing
# else. A desktop's full Calc is never replaced by the `-nogui` package.
set -euo pipefail

packages=(
  build-essential cmake pkg-config
  libgtest-dev libgmock-dev libbenchmark-dev
  libcli11-dev nlohmann-json3-dev
  libzip-dev zlib1g-dev libpugixml-dev zip unzip
  qt6-base-dev
  libreoffice-dev
  xvfb xauth openbox xdotool x11-utils imagemagick
  clang libclang-rt-14-dev
  python3-dev pybind11-dev python3-numpy python3-pandas python3-pytest
  python3-dask python3-distributed python3-matplotlib
)

installed() {
  dpkg-query -W -f='${Status}' "$1" 2>/dev/null | grep -q "install ok installed"
}

missing=()
for p in "${packages[@]}"; do
  installed "$p" || missing+=("$p")
done
if ! installed libreoffice-calc && ! installed libreoffice-calc-nogui; then
  missing+=(libreoffice-calc)
fi

if [ ${#missing[@]} -eq 0 ]; then
  exit 0
fi

echo "Installing: ${missing[*]}" >&2
sudo=""
if [ "$(id -u)" -ne 0 ]; then sudo="sudo"; fi
$sudo apt-get update -qq
DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -q --no-install-recommends "${missing[@]}"
