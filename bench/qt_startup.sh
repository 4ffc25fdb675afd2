#!/usr/bin/env bash
# Start-up time of an empty kit application with one window against a bare
# Qt program with one window, N runs each, side by side, and of the program
# itself up to its main window. Each ends as soon as its window is exposed
# (on the screen). The program runs with XDG directories of its own, so the
# list type it registers at its first start goes there.
#
#   bench/qt_startup.sh [build-dir] [runs]
#
# Uses the build's qt_startup_kit and qt_startup_bare when CMake built them;
# otherwise compiles them here against the build's kit libraries.
set -euo pipefail

here=$(cd "$(dirname "$0")" && pwd)
source_dir=$(cd "$here/.." && pwd)
build=$(cd "${1:-$source_dir/build-qt}" && pwd)
runs=${2:-20}

if [[ -z "${DISPLAY:-}" && -z "${WAYLAND_DISPLAY:-}" && -z "${QT_QPA_PLATFORM:-}" ]]; then
	export QT_QPA_PLATFORM=offscreen
fi
export XDG_RUNTIME_DIR=${XDG_RUNTIME_DIR:-$(mktemp -d)}
chmod 700 "$XDG_RUNTIME_DIR"

find_or_build() {
	local name=$1
	local found
	found=$(find "$build" -type f -name "$name" -perm -u+x 2>/dev/null | head -n 1)
	if [[ -n "$found" ]]; then
		echo "$found"
		return
	fi
	local out="$build/bench-qt-startup/$name"
	mkdir -p "$(dirname "$out")"
	local qt
	qt=$(pkg-config --cflags --libs Qt6Widgets)
	if [[ $name == qt_startup_bare ]]; then
		# shellcheck disable=SC2086
		g++ -std=c++20 -O2 -fPIC "$here/qt/$name.cpp" -o "$out" $qt
	else
		make -C "$build" -j2 tamselkit_qt tamselkit_qt_default >/dev/null
		local includes=()
		for dir in kit kit/support kit/app kit/storage kit/interface kit/tracker kit/display kit/display/qt; do
			includes+=("-I$source_dir/$dir")
		done
		local default_object
		default_object=$(find "$build" -name 'QtDefault.cpp.o' | head -n 1)
		# shellcheck disable=SC2086
		g++ -std=c++20 -O2 -Wno-multichar -fPIC "${includes[@]}" "$here/qt/$name.cpp" "$default_object" -o "$out" \
			"$build/libtamselkit_qt.a" "$build/libtamselkit_ui.a" "$build/libtamselkit_core.a" \
			$qt $(pkg-config --libs libpng) -pthread
	fi
	echo "$out"
}

kit=$(find_or_build qt_startup_kit)
bare=$(find_or_build qt_startup_bare)
program=$build/TamselGogoFrontend
xdg=$(mktemp -d)
trap 'rm -rf "$xdg"' EXIT
export XDG_DATA_HOME=$xdg/data XDG_CONFIG_HOME=$xdg/config

if command -v hyperfine >/dev/null; then
	TAMSEL_EXIT_WHEN_SHOWN=1 hyperfine -N --warmup 2 --runs "$runs" \
		--command-name kit "$kit" --command-name bare-qt "$bare" \
		--command-name program "$program"
	exit 0
fi

# Milliseconds per run: mean, median, min, max.
time_runs() {
	local program=$1
	local times=()
	TAMSEL_EXIT_WHEN_SHOWN=1 "$program" >/dev/null 2>&1 || true # warm the caches
	for ((i = 0; i < runs; i++)); do
		local start end
		start=$(date +%s%N)
		TAMSEL_EXIT_WHEN_SHOWN=1 "$program" >/dev/null 2>&1
		end=$(date +%s%N)
		times+=($(((end - start) / 1000)))
	done
	printf '%s\n' "${times[@]}" | sort -n | awk -v name="$2" '
		{ t[NR] = $1 / 1000.0; sum += t[NR] }
		END {
			median = (NR % 2) ? t[(NR + 1) / 2] : (t[NR / 2] + t[NR / 2 + 1]) / 2
			printf "%-8s mean %7.1f ms  median %7.1f ms  min %7.1f ms  max %7.1f ms  (%d runs)\n",
				name, sum / NR, median, t[1], t[NR], NR
		}'
}

echo "platform: ${QT_QPA_PLATFORM:-${WAYLAND_DISPLAY:+wayland}${DISPLAY:+xcb}}"
time_runs "$kit" kit
time_runs "$bare" bare-qt
[[ -x $program ]] && time_runs "$program" program
