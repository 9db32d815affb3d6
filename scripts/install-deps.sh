#!/usr/bin/env bash
# Installs the Debian packages that Fablewick needs to build, run and test.
# As root it runs apt-get; otherwise it names what is missing and stops.
set -euo pipefail

packages=(
  cmake ninja-build g++ pkg-config
  qt6-base-dev qt6-base-dev-tools qt6-multimedia-dev qt6-qpa-plugins qt6-image-formats-plugins
  libgl-dev libtag1-dev libebur128-dev
  mp3info ffmpeg atomicparsley
  lame mpg123 mediainfo libimage-exiftool-perl python3-mutagen espeak-ng
  fonts-dejavu-core
  dbus-daemon
)

installed() {
  [[ "$(dpkg-query -W -f='${Status}' "$1" 2>/dev/null || true)" == "install ok installed" ]]
}

# The preview plays through a sound server. A desktop with PipeWire's has
# one already, and installing PulseAudio would replace it.
installed pipewire-pulse || packages+=(pulseaudio)
# What a script needs besides: the fuzzers' clang, clang-tidy, the packaging tools.
read -r -a extra <<<"${FABLEWICK_EXTRA_PACKAGES:-}"
packages+=("${extra[@]}")

missing=()
for p in "${packages[@]}"; do
  installed "$p" || missing+=("$p")
done
[[ ${#missing[@]} -eq 0 ]] && exit 0

if [[ $(id -u) -ne 0 ]]; then
  echo "Fablewick needs these Debian packages, which are not installed:" >&2
  echo "  ${missing[*]}" >&2
  echo "Install them as root with:" >&2
  echo "  apt-get install ${missing[*]}" >&2
  exit 1
fi

export DEBIAN_FRONTEND=noninteractive
apt-get update -qq
apt-get install -y -qq --no-install-recommends "${missing[@]}"
