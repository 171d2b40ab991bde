#!/usr/bin/env bash
# Installs the Debian packages the build and the tests need, only those missing.
set -euo pipefail

PACKAGES=(
  g++ cmake ninja-build pkg-config
  clang-format-14  # scripts/format: the version the sources are formatted with
  qt6-base-dev libgl-dev libxkbcommon-dev
  qt6-translations-l10n  # Qt's own dialogs and menus in Russian (qtbase_ru.qm)
  fonts-dejavu-core fontconfig  # the same fonts everywhere: the windows lay out with them
  libgtest-dev libgmock-dev libbenchmark-dev
  ffmpeg libavcodec-dev libavformat-dev libavutil-dev libswscale-dev
  desktop-file-utils appstream  # the install test validates the desktop entry and metainfo
)

missing=()
for p in "${PACKAGES[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$p")
  fi
done

if ((${#missing[@]})); then
  echo "installing: ${missing[*]}"
  SUDO=""
  if [ "$(id -u)" -ne 0 ]; then SUDO="sudo"; fi
  $SUDO apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq "${missing[@]}"
fi
