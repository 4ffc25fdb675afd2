#!/bin/bash
# Installs what the project needs on Debian 12 (as root), or says the one
# apt-get line to run.
set -euo pipefail

PACKAGES=(
	build-essential cmake ninja-build pkg-config
	qt6-base-dev libgl-dev
	libmp3lame-dev libsndfile1-dev libogg-dev libtag1-dev libpng-dev
	shared-mime-info xdg-utils desktop-file-utils libfile-mimeinfo-perl libglib2.0-bin
	googletest libgtest-dev libbenchmark-dev
	clang libclang-rt-14-dev
	xvfb xauth xdotool x11-apps x11-utils imagemagick openbox
	lame attr mpg123 python3-mutagen
)

missing=()
for package in "${PACKAGES[@]}"; do
	if ! dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "install ok installed"; then
		missing+=("$package")
	fi
done

if [ ${#missing[@]} -eq 0 ]; then
	exit 0
fi

if [ "$(id -u)" -ne 0 ]; then
	echo "Some packages are missing. Install them with:"
	echo "  sudo apt-get install -y ${missing[*]}"
	exit 1
fi

echo "Installing: ${missing[*]}"
export DEBIAN_FRONTEND=noninteractive
apt-get update -qq
apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
