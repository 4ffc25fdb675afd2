#!/bin/bash
# Sets everything up and runs the whole test suite: under AddressSanitizer
# with UndefinedBehaviorSanitizer, under ThreadSanitizer, the fuzzers for a
# bounded time, and last the plain build, whose CTest summary ends the run.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/setup.sh
JOBS=$(nproc)
export QT_QPA_PLATFORM=offscreen
status=0

run_suite() {
	local dir=$1 label=$2
	shift 2
	echo "=== $label ==="
	cmake -S . -B "$dir" -G Ninja "$@" >/dev/null
	cmake --build "$dir" -j "$JOBS"
	if ! ctest --test-dir "$dir" -j "$JOBS" --output-on-failure --timeout 120; then
		echo "=== $label: FAILED ==="
		status=1
	fi
}

export ASAN_OPTIONS="detect_leaks=1:abort_on_error=1:strict_string_checks=1"
export UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1"
export LSAN_OPTIONS="suppressions=$PWD/tests/qt.supp:print_suppressions=0"
run_suite build-asan "AddressSanitizer + UndefinedBehaviorSanitizer" \
	-DCMAKE_BUILD_TYPE=Debug -DTAMSEL_SANITIZE=address
unset ASAN_OPTIONS UBSAN_OPTIONS LSAN_OPTIONS

export TSAN_OPTIONS="halt_on_error=1:second_deadlock_stack=1:suppressions=$PWD/tests/qt-tsan.supp"
run_suite build-tsan "ThreadSanitizer" -DCMAKE_BUILD_TYPE=Debug -DTAMSEL_SANITIZE=thread
unset TSAN_OPTIONS

if [ -x fuzz/run.sh ]; then
	echo "=== Fuzzers ==="
	if ! fuzz/run.sh; then
		echo "=== Fuzzers: FAILED ==="
		status=1
	fi
fi

run_suite build "Plain build" -DCMAKE_BUILD_TYPE=RelWithDebInfo
exit $status
