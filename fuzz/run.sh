#!/bin/bash
# Builds the fuzz targets with clang and runs each for a bounded time from its
# committed seed corpus. Fails on any crash, leak or sanitizer report (UBSan's
# included: the build makes it fatal, and so do the options below).
#
#   fuzz/run.sh                         every target, FUZZ_SECONDS (12) each
#   FUZZ_SECONDS=600 fuzz/run.sh        the same, longer
#   fuzz/run.sh gogo_input exec_line    only these
set -euo pipefail
cd "$(dirname "$0")/.."
SECONDS_EACH=${FUZZ_SECONDS:-12}
# Whatever else the caller asks of UBSan, a report ends the run (the later
# setting wins).
export UBSAN_OPTIONS="${UBSAN_OPTIONS:+$UBSAN_OPTIONS:}halt_on_error=1:print_stacktrace=1"
# The targets that write files make their directory under $TMPDIR; in memory
# the syncs of a list save cost nothing (listfile_read runs ten times faster).
if [ -z "${TMPDIR:-}" ] && [ -d /dev/shm ] && [ -w /dev/shm ]; then
	export TMPDIR=/dev/shm
fi

CC=clang CXX=clang++ cmake -S . -B build-fuzz -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
	-DTAMSEL_FUZZ=ON >/dev/null
cmake --build build-fuzz -j "$(nproc)"

# The longest input each target is given, where the default (the largest
# seed, at least 4 KiB) is not what it needs.
max_len() {
	case "$1" in
		gogo_input) echo 65536 ;;     # the target skips anything longer
		listfile_read) echo 65536 ;;
		settings) echo 8192 ;;        # four values of up to 2 KiB each
		*) echo 4096 ;;
	esac
}

if [ $# -gt 0 ]; then
	targets=()
	for short in "$@"; do
		targets+=("build-fuzz/fuzz/fuzz_$short")
	done
else
	targets=(build-fuzz/fuzz/fuzz_*)
fi

status=0
for target in "${targets[@]}"; do
	if [ ! -x "$target" ]; then
		echo "no fuzz target $target"
		status=1
		continue
	fi
	name=$(basename "$target")
	short=${name#fuzz_}
	work=$(mktemp -d)
	if [ -d "fuzz/corpus/$short" ]; then
		cp -r "fuzz/corpus/$short/." "$work/"
	fi
	echo "--- $name for ${SECONDS_EACH}s"
	if ! "$target" -max_total_time="$SECONDS_EACH" -timeout=10 -rss_limit_mb=2048 \
		-max_len="$(max_len "$short")" -print_final_stats=1 \
		-artifact_prefix="build-fuzz/$name-" "$work" >"build-fuzz/$name.log" 2>&1; then
		echo "$name FAILED; the end of its log:"
		tail -40 "build-fuzz/$name.log"
		status=1
	else
		grep -E '^#[0-9]+[[:space:]]+DONE' "build-fuzz/$name.log" | tail -1 || tail -1 "build-fuzz/$name.log"
	fi
	rm -rf "$work"
done
exit $status
