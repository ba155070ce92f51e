#!/usr/bin/env bash
# Installs the Debian packages Signetrix needs to build, run and test, only the
# ones missing, with sudo when not root.
set -euo pipefail

PACKAGES=(
  cmake g++ ninja-build pkg-config ccache
  qt6-base-dev qt6-base-dev-tools qt6-webengine-dev qt6-webengine-dev-tools libqt6webenginecore6-bin
  qt6-translations-l10n
  libgl-dev libglx-dev fonts-dejavu-core
  libcurl4-openssl-dev libzip-dev zlib1g-dev libssl-dev openssl
  qt6-httpserver-dev qt6-websockets-dev libqt6sql6-sqlite libsodium-dev minisign
  libgtest-dev libgmock-dev libbenchmark-dev python3-pyftpdlib
  zip unzip
)

missing=()
for p in "${PACKAGES[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$p")
  fi
done

if ((${#missing[@]})); then
  SUDO=""
  if [ "$(id -u)" -ne 0 ]; then SUDO="sudo"; fi
  echo "Installing: ${missing[*]}"
  $SUDO apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi
