#!/bin/bash
# Builds the fuzz targets with clang and runs each for a bounded time from its
# committed seed corpus. Fails on any crash, leak or sanitizer report.
set -euo pipefail
cd "$(dirname "$0")/.."
SECONDS_EACH=${FUZZ_SECONDS:-12}

CC=clang CXX=clang++ cmake -S . -B build-fuzz -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
	-DTAMSEL_FUZZ=ON >/dev/null
cmake --build build-fuzz -j "$(nproc)"

status=0
for target in build-fuzz/fuzz/fuzz_*; do
	[ -x "$target" ] || continue
	name=$(basename "$target")
	short=${name#fuzz_}
	work=$(mktemp -d)
	if [ -d "fuzz/corpus/$short" ]; then
		cp -r "fuzz/corpus/$short/." "$work/"
	fi
	echo "--- $name for ${SECONDS_EACH}s"
	if ! "$target" -max_total_time="$SECONDS_EACH" -timeout=10 -rss_limit_mb=2048 \
		-artifact_prefix="build-fuzz/$name-" "$work" >"build-fuzz/$name.log" 2>&1; then
		echo "$name FAILED; the end of its log:"
		tail -40 "build-fuzz/$name.log"
		status=1
	else
		tail -1 "build-fuzz/$name.log"
	fi
	rm -rf "$work"
done
exit $status
