#!/usr/bin/env bash
# Times the bundled gogo encoder against the lame command, same settings on
# both sides, on 60 s stereo 44.1 kHz 16-bit WAVs of three kinds of signal:
#   pink noise, a sine sweep (20 Hz to 20 kHz), drum hits and clicks over
#   silence
# and on two real recordings from Debian packages, listed in
# bench/real_recordings.txt (real1: Wesnoth's orchestral "Love Theme", 1:35,
# from wesnoth-1.16-music; real2: Extreme Tux Racer's electronic "Freezing
# Point", 1:36, from extremetuxracer-data), decoded with sox or ffmpeg. A
# recording whose package is not installed is skipped with the apt-get line
# that brings it; run as root, the script installs the package itself.
# at three settings:
#   lame -b 128   / gogo -b 128
#   lame -b 320   / gogo -b 320
#   lame -V 2     / gogo -v 2
# (lame's defaults otherwise: -q 3, ReplayGain on, joint stereo; gogo's are
# the same, and gogo -threads 1 writes byte for byte what lame writes, which
# the script checks). gogo runs on every core online unless GOGO_THREADS
# says otherwise; lame has one.
#
# Then a ten-file list through the whole program (bench_program_vs_lame,
# next to gogo in the build folder, or BENCH_PROGRAM=...) against lame file
# by file (target: at most 0.55), with its own floor (two lames at once on
# each file), made of the synthetic signals (of the recordings only when no
# synthetic one is asked for).
#
# usage: bench/encoder_vs_lame.sh [path/to/gogo]
#   GOGO=...          the gogo executable (default: build-enc/gogo, then build/gogo)
#   LAME=...          the lame executable (default: lame on PATH)
#   RUNS=5            timed runs of each (after one warm-up run each), alternating
#   GOGO_THREADS=N    passed as -threads N (default: not passed, all cores)
#   GOGO_BEFORE=...   an earlier gogo, timed in the same rounds (the "before"
#                     column: its share of lame's time), to compare a change
#                     side by side
#   BENCH_WAV=...     one WAV to use instead of the generated ones
#   SIGNALS="pink sweep drums real1 real2"   SETTINGS="cbr128 cbr320 vbr2"   subsets
#   BENCH_INSTALL=no  never apt-get install the recordings' packages, even as root
#   COUNT=instructions  instead of timing, count the instructions each side
#                     executes (valgrind's callgrind, gogo thread by thread):
#                     what the busiest worker does against lame's whole work
#                     (ideal: half), which no load on a shared machine moves
# Times the runs in bash (interleaved lame, gogo, two lames at once, lame,
# gogo...) and takes the median; prints one row per signal and setting:
# wall and CPU seconds, gogo's share of lame's wall time (target: at most
# 0.55 on 2 cores) and the floor: what two cores give here at best, two
# lames at once against twice one alone, timed in the same rounds; "over"
# is the share less the floor (target: at most 0.03), summed up after the
# rows.
set -euo pipefail

here="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
root="$(dirname "$here")"
runs="${RUNS:-5}"

gogo="${1:-${GOGO:-}}"
if [[ -z "$gogo" ]]; then
	for candidate in "$root/build-enc/gogo" "$root/build/gogo"; do
		if [[ -x "$candidate" ]]; then
			gogo="$candidate"
			break
		fi
	done
fi
if [[ -z "$gogo" || ! -x "$gogo" ]]; then
	echo "encoder_vs_lame: no gogo executable (build the gogo target, or pass its path)" >&2
	exit 1
fi
lame="${LAME:-$(command -v lame || true)}"
before="${GOGO_BEFORE:-}"
if [[ -n "$before" && ! -x "$before" ]]; then
	echo "encoder_vs_lame: GOGO_BEFORE=$before is not an executable" >&2
	exit 1
fi
if [[ -z "$lame" || ! -x "$lame" ]]; then
	echo "encoder_vs_lame: no lame executable (apt-get install lame)" >&2
	exit 1
fi

work="$(mktemp -d "${TMPDIR:-/tmp}/encoder-vs-lame.XXXXXX")"
trap 'rm -rf "$work"' EXIT

# The real recordings: name, package, file, what it is.
declare -A real_package real_file real_what
real_names=()
if [[ -r "$here/real_recordings.txt" ]]; then
	while read -r name package file what; do
		[[ -z "$name" || "$name" == \#* ]] && continue
		real_names+=("$name")
		real_package[$name]="$package"
		real_file[$name]="$file"
		real_what[$name]="$what"
	done <"$here/real_recordings.txt"
fi
is_real() { [[ -n "${real_package[$1]+set}" ]]; }

signals=(${SIGNALS:-pink sweep drums ${real_names[*]}})
settings=(${SETTINGS:-cbr128 cbr320 vbr2})
if [[ -n "${BENCH_WAV:-}" ]]; then
	signals=(given)
	cp "$BENCH_WAV" "$work/given.wav"
fi

# Packages of the recordings asked for that are not there (each once).
missing_packages() {
	local signal seen=" "
	for signal in "${signals[@]}"; do
		if is_real "$signal" && [[ ! -r "${real_file[$signal]}" && "$seen" != *" ${real_package[$signal]} "* ]]; then
			seen+="${real_package[$signal]} "
		fi
	done
	echo "$seen"
}
# Takes the named signals out of the list.
drop_signals() {
	local kept=() signal
	for signal in "${signals[@]}"; do
		[[ " $* " == *" $signal "* ]] || kept+=("$signal")
	done
	signals=("${kept[@]}")
}
read -r -a packages <<<"$(missing_packages)"
if ((${#packages[@]})) && [[ $EUID -eq 0 && "${BENCH_INSTALL:-}" != no ]] && command -v apt-get >/dev/null 2>&1; then
	echo "encoder_vs_lame: installing ${packages[*]} for the real recordings (BENCH_INSTALL=no not to)"
	export DEBIAN_FRONTEND=noninteractive
	apt-get install -y -qq --no-install-recommends "${packages[@]}" >/dev/null 2>&1 ||
		{ apt-get update -qq >/dev/null 2>&1 && apt-get install -y -qq --no-install-recommends "${packages[@]}" >/dev/null 2>&1; } || true
	read -r -a packages <<<"$(missing_packages)"
fi
if ((${#packages[@]})); then
	skipped=()
	for signal in "${signals[@]}"; do
		if is_real "$signal" && [[ ! -r "${real_file[$signal]}" ]]; then skipped+=("$signal"); fi
	done
	sudo=""
	[[ $EUID -eq 0 ]] || sudo="sudo "
	echo "encoder_vs_lame: skipping ${skipped[*]} (not installed); to time them: ${sudo}apt-get install ${packages[*]}"
	drop_signals "${skipped[@]}"
fi

# Each recording decoded once to a 16-bit stereo 44.1 kHz WAV.
decode() { # file wav
	if command -v sox >/dev/null 2>&1 && sox -V1 -D "$1" -b 16 -e signed-integer -c 2 -r 44100 "$2" 2>/dev/null; then
		return 0
	fi
	command -v ffmpeg >/dev/null 2>&1 &&
		ffmpeg -nostdin -loglevel error -y -i "$1" -map 0:a:0 -map_metadata -1 -fflags +bitexact \
			-ac 2 -ar 44100 -c:a pcm_s16le "$2" 2>/dev/null
}
real=()
synthetic=()
for signal in "${signals[@]}"; do
	if is_real "$signal"; then real+=("$signal"); else synthetic+=("$signal"); fi
done
if ((${#real[@]})) && ! command -v sox >/dev/null 2>&1 && ! command -v ffmpeg >/dev/null 2>&1; then
	echo "encoder_vs_lame: skipping ${real[*]}: neither sox nor ffmpeg here to decode them (apt-get install sox)"
	drop_signals "${real[@]}"
	real=()
fi
decoded=()
for signal in "${real[@]}"; do
	if decode "${real_file[$signal]}" "$work/$signal.wav"; then
		decoded+=("$signal")
	else
		echo "encoder_vs_lame: skipping $signal: could not decode ${real_file[$signal]}"
		drop_signals "$signal"
	fi
done
real=("${decoded[@]}")
if ((${#signals[@]} == 0)); then
	echo "encoder_vs_lame: nothing to time" >&2
	exit 1
fi
if ((${#synthetic[@]})) && [[ -z "${BENCH_WAV:-}" ]] && ! command -v python3 >/dev/null 2>&1; then
	echo "encoder_vs_lame: python3 is needed to make the WAVs (or give BENCH_WAV)" >&2
	exit 1
fi

make_wav() { # kind path
	python3 - "$1" "$2" <<'PY'
import array, math, random, sys, wave
kind, path = sys.argv[1], sys.argv[2]
rate, seconds = 44100, 60
n = rate * seconds
random.seed(1)
out = array.array('h', bytes(4 * n))
def put(i, left, right):
    out[2 * i] = max(-32767, min(32767, int(left * 32767)))
    out[2 * i + 1] = max(-32767, min(32767, int(right * 32767)))
if kind == 'pink':
    # White noise through Paul Kellett's pinking filter, each channel its own.
    state = [[0.0] * 7 for _ in range(2)]
    uniform = random.uniform
    for i in range(n):
        v = []
        for s in state:
            w = uniform(-1, 1)
            s[0] = 0.99886 * s[0] + w * 0.0555179; s[1] = 0.99332 * s[1] + w * 0.0750759
            s[2] = 0.96900 * s[2] + w * 0.1538520; s[3] = 0.86650 * s[3] + w * 0.3104856
            s[4] = 0.55000 * s[4] + w * 0.5329522; s[5] = -0.7616 * s[5] - w * 0.0168980
            v.append((s[0] + s[1] + s[2] + s[3] + s[4] + s[5] + s[6] + w * 0.5362) * 0.11)
            s[6] = w * 0.115926
        put(i, v[0], v[1])
elif kind == 'sweep':
    k = math.log(1000.0)
    for i in range(n):
        phase = 2 * math.pi * 20.0 * seconds / k * (math.exp(i / rate / seconds * k) - 1)
        put(i, 0.5 * math.sin(phase), 0.5 * math.sin(phase * 1.001))
else:
    # A falling-pitch kick every half second, a noise snare on the off
    # bars, a click in every fourth bar, silence between.
    for i in range(n):
        t = i / rate
        beat = t % 0.5
        bar = int(t / 0.5)
        v = 0.0
        if beat < 0.25:
            v = math.exp(-beat * 30) * math.sin(2 * math.pi * (60 + 40 * math.exp(-beat * 50)) * beat) * 0.8
            v += math.exp(-beat * 80) * random.uniform(-1, 1) * 0.4 * (bar % 2)
        if bar % 4 == 3 and 0.25 <= beat < 0.26:
            v += random.uniform(-1, 1) * 0.6
        v = max(-1.0, min(1.0, v))
        put(i, v, v * 0.9)
with wave.open(path, 'wb') as w:
    w.setnchannels(2)
    w.setsampwidth(2)
    w.setframerate(rate)
    w.writeframes(out.tobytes())
PY
}

if [[ -z "${BENCH_WAV:-}" ]]; then
	for signal in "${synthetic[@]}"; do
		make_wav "$signal" "$work/$signal.wav" &
	done
	wait
fi

lame_args() {
	case "$1" in
		cbr128) echo "-b 128" ;;
		cbr320) echo "-b 320" ;;
		vbr2) echo "-V 2" ;;
	esac
}
gogo_args() {
	case "$1" in
		cbr128) echo "-b 128" ;;
		cbr320) echo "-b 320" ;;
		vbr2) echo "-v 2" ;;
	esac
}
threads=()
if [[ -n "${GOGO_THREADS:-}" ]]; then
	threads=(-threads "$GOGO_THREADS")
fi

# The floor for a row: the same lame encode twice at once. One encode split
# in two can do no better than half the time of two whole ones at once, so
# (two at once) / (2 x one alone) is the best gogo / lame can be on this
# machine; on a shared virtual machine it moves from minute to minute, so
# it is timed in the same rounds as the row.
lame_pair() {
	"${lame_cmd[@]/%lame.mp3/pair1.mp3}" &
	"${lame_cmd[@]/%lame.mp3/pair2.mp3}"
	wait
}

median() { sort -n | awk '{ v[NR] = $1 } END { if (NR % 2) print v[(NR + 1) / 2]; else print (v[NR / 2] + v[NR / 2 + 1]) / 2 }'; }

# One timed run: appends "wall cpu" (seconds; cpu = user + sys) to a file.
timed() {
	local file="$1"
	shift
	local TIMEFORMAT='%R %U %S'
	{ time "$@" >/dev/null 2>&1; } 2>"$work/one"
	awk '{ printf "%.3f %.3f\n", $1, $2 + $3 }' "$work/one" >>"$file"
}

echo "gogo:    $gogo (${GOGO_THREADS:-all} threads; $(nproc) cores online)"
[[ -z "$before" ]] || echo "before:  $before (the \"before\" column, timed in the same rounds)"
echo "lame:    $("$lame" --version 2>/dev/null | head -n 1)"
if ((${#real[@]} == 0)); then
	echo "inputs:  60 s stereo 44.1 kHz 16-bit: ${signals[*]}"
else
	echo "inputs:  stereo 44.1 kHz 16-bit: ${synthetic[*]}${synthetic[*]:+ (60 s made here), }${real[*]} (recordings, below)"
	for signal in "${real[@]}"; do
		bytes=$(($(stat -c %s "$work/$signal.wav") - 44))
		awk -v s="$signal" -v b="$bytes" -v w="${real_what[$signal]}" -v f="${real_file[$signal]}" -v p="${real_package[$signal]}" \
			'BEGIN { printf "%-8s %.1f s: %s; %s (%s)\n", s ":", b / 176400, w, f, p }'
	done
fi
count="${COUNT:-}"
if [[ -n "$count" && "$count" != instructions ]]; then
	echo "encoder_vs_lame: COUNT=$count: only COUNT=instructions is known" >&2
	exit 1
fi
if [[ -n "$count" ]] && ! command -v valgrind >/dev/null 2>&1; then
	echo "encoder_vs_lame: COUNT=instructions needs valgrind (apt-get install valgrind)" >&2
	exit 1
fi

# Instructions of one run under callgrind, thread by thread (the first is
# the main thread): one line of counts.
instructions() {
	local name="$1"
	shift
	rm -f "$work/$name".cg*
	valgrind --tool=callgrind --separate-threads=yes --callgrind-out-file="$work/$name.cg.%p" "$@" >/dev/null 2>&1 || return 1
	local part
	for part in "$work/$name".cg.*; do
		awk '/^(summary|totals):/ { print $2; exit }' "$part"
	done | tr '\n' ' '
}
# One row of counts: lame's instructions; gogo's (and the earlier gogo's)
# in all and in its busiest worker, as shares of lame's; how far apart its
# workers are; "over": the busiest worker's share less a half.
count_row() {
	local counts=() name
	instructions lame "${lame_cmd[@]}" >"$work/count.lame" &
	instructions gogo "${gogo_cmd[@]}" >"$work/count.gogo" &
	[[ -z "$before" ]] || instructions before "${before_cmd[@]}" >"$work/count.before" &
	wait
	for name in lame gogo before; do counts+=("$(cat "$work/count.$name" 2>/dev/null || true)"); done
	awk -v s="$signal" -v k="$setting" -v same="$same" -v l="${counts[0]}" -v g="${counts[1]}" -v b="${counts[2]}" \
		-v over="$work/over" '
		function busiest(line, shares,   n, v, i, all, top, low) {
			n = split(line, v, " ")
			for (i = 1; i <= n; i++) { all += v[i]; if (i > 1 && v[i] > top) top = v[i]; if (i > 1 && (low == "" || v[i] < low)) low = v[i] }
			if (n == 1) top = low = v[1] # one thread: it does it all
			shares[1] = all / l; shares[2] = top / l; shares[3] = n > 2 ? (top - low) / top : 0
		}
		BEGIN { split(l, lv, " "); l = lv[1]
			if (l <= 0 || g == "") { printf "%-7s %-7s (no count)\n", s, k; exit }
			busiest(g, gs)
			printf "%-7s %-7s %12.0f %9.3f %9.3f %8.1f%% %+7.3f  %-17s", s, k, l / 1e6, gs[1], gs[2], 100 * gs[3], gs[2] - 0.5, same
			if (b != "") { busiest(b, bs); printf "  %.3f %.3f", bs[1], bs[2] }
			printf "\n"
			printf "%.6f %s\n", gs[2] - 0.5, b == "" ? "" : bs[2] - 0.5 >>over }'
}

if [[ -n "$count" ]]; then
	echo "counting: instructions under valgrind's callgrind, one run of each; load does not move them"
	echo
	printf '%-7s %-7s %12s %9s %9s %9s %7s  %s%s\n' signal setting "lame Minstr" "gogo all" busiest "apart" over "-threads 1 = lame" \
		"${before:+  before: all, busiest}"
else
	echo "timing:  bash's time, $runs interleaved runs each after a warm-up, median; load before: $(cut -d' ' -f1-3 /proc/loadavg)"
	echo
	printf '%-7s %-7s %9s %9s %7s %7s %7s %9s %9s %7s  %s%s\n' signal setting "lame s" "gogo s" ratio floor over "lame cpu" "gogo cpu" "cpu x" "-threads 1 = lame" \
		"${before:+  before}"
fi
failed=0
: >"$work/over"
for signal in "${signals[@]}"; do
	wav="$work/$signal.wav"
	for setting in "${settings[@]}"; do
		read -r -a la <<<"$(lame_args "$setting")"
		read -r -a ga <<<"$(gogo_args "$setting")"
		out="$work/out"
		rm -rf "$out"
		mkdir -p "$out"
		lame_cmd=("$lame" --quiet "${la[@]}" "$wav" "$out/lame.mp3")
		gogo_cmd=("$gogo" -silent -overwrite "${threads[@]}" "${ga[@]}" -o "$out" "$wav")
		before_cmd=("$before" -silent -overwrite "${threads[@]}" "${ga[@]}" -o "$out/before" "$wav")
		# Same settings: one thread writes lame's bytes.
		"$lame" --quiet "${la[@]}" "$wav" "$out/lame.mp3"
		"$gogo" -silent -threads 1 "${ga[@]}" -o "$out/one" "$wav"
		if cmp -s "$out/lame.mp3" "$out/one/$signal.mp3"; then same=yes; else same=NO; failed=1; fi
		[[ -z "$before" ]] || mkdir -p "$out/before"
		if [[ -n "$count" ]]; then
			count_row
			continue
		fi
		: >"$work/lame.times"
		: >"$work/gogo.times"
		: >"$work/pair.times"
		: >"$work/before.times"
		"${lame_cmd[@]}" >/dev/null 2>&1
		"${gogo_cmd[@]}" >/dev/null 2>&1
		[[ -z "$before" ]] || "${before_cmd[@]}" >/dev/null 2>&1
		for ((i = 0; i < runs; i++)); do
			timed "$work/lame.times" "${lame_cmd[@]}"
			timed "$work/gogo.times" "${gogo_cmd[@]}"
			timed "$work/pair.times" lame_pair
			[[ -z "$before" ]] || timed "$work/before.times" "${before_cmd[@]}"
		done
		lame_s=$(cut -d' ' -f1 "$work/lame.times" | median)
		gogo_s=$(cut -d' ' -f1 "$work/gogo.times" | median)
		pair_s=$(cut -d' ' -f1 "$work/pair.times" | median)
		lame_cpu=$(cut -d' ' -f2 "$work/lame.times" | median)
		gogo_cpu=$(cut -d' ' -f2 "$work/gogo.times" | median)
		before_s=""
		[[ -z "$before" ]] || before_s=$(cut -d' ' -f1 "$work/before.times" | median)
		awk -v s="$signal" -v k="$setting" -v l="$lame_s" -v g="$gogo_s" -v p="$pair_s" -v lc="$lame_cpu" -v gc="$gogo_cpu" -v same="$same" -v b="$before_s" \
			-v over="$work/over" \
			'BEGIN { floor = p / (2 * l)
				printf "%-7s %-7s %9.3f %9.3f %7.3f %7.3f %+7.3f %9.3f %9.3f %7.3f  %-17s", s, k, l, g, g / l, floor, g / l - floor, lc, gc, gc / lc, same
				if (b != "") printf "  %.3f", b / l
				printf "\n"
				printf "%.6f %s\n", g / l - floor, b == "" ? "" : b / l - floor >>over }'
		if [[ -n "${VERBOSE:-}" ]]; then
			echo "  lame runs, wall s: $(cut -d' ' -f1 "$work/lame.times" | tr '\n' ' ')"
			echo "  gogo runs, wall s: $(cut -d' ' -f1 "$work/gogo.times" | tr '\n' ' ')"
			echo "  two lames at once, wall s: $(cut -d' ' -f1 "$work/pair.times" | tr '\n' ' ')"
		fi
	done
done

# The rows at a glance: how far above its floor a row lies (what the
# splitting and joining cost, beyond what two cores lose anyway).
awk -v before="$before" -v floor="${count:+a half}" '{ n++; sum += $1; if ($1 <= 0.03) within++; if (n == 1 || $1 > worst) worst = $1
		bsum += $2; if ($2 <= 0.03) bwithin++; if (n == 1 || $2 > bworst) bworst = $2 }
	END { if (n == 0) exit
		printf "\nover %s: %+.3f on average, %d of %d rows within 0.03, the worst %+.3f", floor == "" ? "the floor" : floor, sum / n, within, n, worst
		if (before != "") printf "; before %+.3f, %d within, the worst %+.3f", bsum / n, bwithin, bworst
		printf "\n" }' "$work/over"

# Ten files through the whole program (headless, this gogo, the program's
# default settings) against lame's defaults file by file: the signals made
# here, so that the row stays comparable, or the recordings if none is.
program_bench="${BENCH_PROGRAM:-$(dirname "$gogo")/bench/bench_program_vs_lame}"
if [[ -n "$count" ]]; then
	: # the ten-file row is timed only
elif [[ -z "${BENCH_WAV:-}" && -x "$program_bench" ]]; then
	list="$work/list"
	mkdir -p "$list"
	listed=("${synthetic[@]}")
	((${#listed[@]})) || listed=("${real[@]}")
	for ((i = 0; i < 10; i++)); do
		signal="${listed[$((i % ${#listed[@]}))]}"
		ln "$work/$signal.wav" "$list/file$i.wav"
	done
	echo
	BENCH_GOGO="$gogo" BENCH_LAME="$lame" BENCH_ROUNDS="$runs" BENCH_WAVS="$list" "$program_bench" || failed=1
	if [[ -n "$before" ]]; then
		echo "before ($before):"
		BENCH_GOGO="$before" BENCH_LAME="$lame" BENCH_ROUNDS="$runs" BENCH_WAVS="$list" "$program_bench" || failed=1
	fi
elif [[ -z "${BENCH_WAV:-}" ]]; then
	echo
	echo "(no $program_bench: build the bench_program_vs_lame target for the ten-file row)"
fi
echo
echo "load after: $(cut -d' ' -f1-3 /proc/loadavg)"
exit $failed
