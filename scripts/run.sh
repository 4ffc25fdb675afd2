#!/bin/bash
# Sets everything up, builds the program and the bundled encoder, and starts
# the program.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/setup.sh
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build --target TamselGogoFrontend gogo

if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ] && [ -z "${QT_QPA_PLATFORM:-}" ]; then
	echo "No display found: run this on a desktop, or headless with: xvfb-run -a ./run.sh"
	exit 1
fi
exec build/TamselGogoFrontend "$@"
