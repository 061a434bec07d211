#!/usr/bin/env bash
# Installs the Debian packages that building and testing ZRFishEye needs, when any is missing.
set -euo pipefail
packages=(cmake make g++ pkg-config libopencv-dev libopencv-contrib-dev libhwy-dev libgtest-dev libbenchmark-dev
          pybind11-dev python3-dev python3-numpy python3-pytest python3-opencv
          clang libclang-rt-14-dev libfuzzer-14-dev
          qtbase5-dev xvfb xdotool imagemagick
          ffmpeg python3-gi gir1.2-gst-rtsp-server-1.0
          libgstreamer1.0-dev libgstreamer-plugins-base1.0-dev gstreamer1.0-tools gstreamer1.0-plugins-base
          gstreamer1.0-plugins-good gstreamer1.0-plugins-ugly gstreamer1.0-libav)
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  echo "Installing: ${missing[*]}"
  if [ "$(id -u)" -ne 0 ]; then SUDO=sudo; else SUDO=; fi
  $SUDO apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
fi
