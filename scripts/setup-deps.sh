#!/usr/bin/env bash
# Installs every Debian 12 package needed to build, test and run Vexa Screen Recorder.
# Idempotent; runs as root (or through sudo) without a terminal.
set -euo pipefail

packages=(
  build-essential cmake pkg-config git ccache
  libavcodec-dev libavformat-dev libavfilter-dev libavdevice-dev
  libavutil-dev libswscale-dev libswresample-dev libyuv-dev
  qt6-base-dev qt6-base-dev-tools libgl-dev
  libx11-dev libxext-dev libxfixes-dev libxtst-dev
  libpulse-dev
  xvfb x11-utils xdotool pulseaudio pulseaudio-utils
  mediainfo locales
  libgtest-dev libgmock-dev libbenchmark-dev
  clang libclang-rt-14-dev
)

SUDO=()
if [ "$(id -u)" -ne 0 ]; then
  if command -v sudo >/dev/null 2>&1; then SUDO=(sudo -n); else
    echo "setup-deps: must run as root (or with sudo)" >&2; exit 1; fi
fi

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
    missing+=("$p")
  fi
done

if [ ${#missing[@]} -eq 0 ]; then
  echo "setup-deps: all packages present"
  exit 0
fi

echo "setup-deps: installing ${missing[*]}"
export DEBIAN_FRONTEND=noninteractive
"${SUDO[@]}" apt-get update -q
"${SUDO[@]}" env DEBIAN_FRONTEND=noninteractive apt-get install -y -q --no-install-recommends "${missing[@]}"
