#!/usr/bin/env bash
# Installs the Debian 12 packages the build needs (only those that are missing).
set -euo pipefail
pkgs=(build-essential cmake pkg-config libopenimageio-dev libtbb-dev libcli11-dev nlohmann-json3-dev
      libgtest-dev libgmock-dev libbenchmark-dev openimageio-tools python3 libcairo2-dev
      slurm-wlm munge pybind11-dev python3-dev python3-numpy python3-pytest python3-openimageio
      frei0r-plugins-dev ffmpeg melt gstreamer1.0-tools gstreamer1.0-plugins-base gstreamer1.0-plugins-bad "$@")
missing=()
for p in "${pkgs[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  echo "installing: ${missing[*]}"
  SUDO=""
  [ "$(id -u)" -ne 0 ] && SUDO="sudo"
  $SUDO apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi
