#!/bin/sh
# Times the pause between files of a run against a shell loop starting the
# same encoder, side by side. Usage: bench/encoding_pause.sh [build-dir] [files] [rounds]
set -eu
build=${1:-build}
files=${2:-1000}
ninja -C "$build" -j2 bench/bench_encoding_pause >/dev/null
"$build/bench/bench_encoding_pause" "$files" ${3:-3}
