#!/usr/bin/env bash
# Times the bundled gogo encoder against the lame command on a 60 s stereo
# 44.1 kHz 16-bit WAV at 128 kbps, same settings on both sides:
#   lame -b 128 in.wav out.mp3      (lame's defaults: -q 3, ReplayGain on)
#   gogo -b 128 in.wav              (gogo's defaults: quality 3, ReplayGain on)
# These two write byte-identical MP3s, which the script checks.
#
# usage: bench/encoder_vs_lame.sh [path/to/gogo]
#   GOGO=...       the gogo executable (default: build-enc/gogo, then build/gogo)
#   LAME=...       the lame executable (default: lame on PATH)
#   RUNS=5         timed runs of each (after one warm-up run each)
#   BENCH_WAV=...  a WAV to use instead of the generated one
# Uses hyperfine when present; otherwise times the runs in bash (interleaved)
# and takes the median.
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
if [[ -z "$lame" || ! -x "$lame" ]]; then
	echo "encoder_vs_lame: no lame executable (apt-get install lame)" >&2
	exit 1
fi

work="$(mktemp -d "${TMPDIR:-/tmp}/encoder-vs-lame.XXXXXX")"
trap 'rm -rf "$work"' EXIT

wav="$work/in.wav"
if [[ -n "${BENCH_WAV:-}" ]]; then
	cp "$BENCH_WAV" "$wav"
	source_note="$BENCH_WAV"
elif command -v sox >/dev/null 2>&1; then
	sox -n -r 44100 -c 2 -b 16 "$wav" synth 60 sine 440
	source_note="sox: 60 s 440 Hz sine, stereo, 44.1 kHz, 16-bit"
elif command -v python3 >/dev/null 2>&1; then
	python3 - "$wav" <<'PY'
import array, math, random, sys, wave
rate, seconds = 44100, 60
random.seed(1)
# Five one-second blocks of chords and noise (whole cycles, so blocks join
# without clicks), in a changing order: closer to music than a lone sine.
blocks = []
for variant in range(5):
    tones = [(220.0 * 2 ** ((variant * 3 + k * 4) / 12.0), 0.18 / (k + 1)) for k in range(4)]
    tones = [(round(f), a) for f, a in tones]
    samples = array.array('h')
    for i in range(rate):
        t = i / rate
        left = sum(a * math.sin(2 * math.pi * f * t) for f, a in tones)
        right = sum(a * math.sin(2 * math.pi * f * t + 0.7 * k) for k, (f, a) in enumerate(tones))
        left += random.uniform(-0.03, 0.03)
        right += random.uniform(-0.03, 0.03)
        samples.append(int(max(-1.0, min(1.0, left)) * 32000))
        samples.append(int(max(-1.0, min(1.0, right)) * 32000))
    blocks.append(samples.tobytes())
with wave.open(sys.argv[1], 'wb') as out:
    out.setnchannels(2)
    out.setsampwidth(2)
    out.setframerate(rate)
    for second in range(seconds):
        out.writeframes(blocks[(second * 3 + second // 5) % 5])
PY
	source_note="python3: 60 s of chords and noise, stereo, 44.1 kHz, 16-bit"
else
	echo "encoder_vs_lame: neither sox nor python3 to make the WAV" >&2
	exit 1
fi

lame_cmd=("$lame" --quiet -b 128 "$wav" "$work/lame.mp3")
gogo_cmd=("$gogo" -silent -b 128 "$wav")

# Same settings, same output?
"${lame_cmd[@]}"
"${gogo_cmd[@]}"
if cmp -s "$work/lame.mp3" "$work/in.mp3"; then
	identical="yes (byte for byte)"
else
	identical="no"
fi

median() { sort -n | awk '{ v[NR] = $1 } END { if (NR % 2) print v[(NR + 1) / 2]; else print (v[NR / 2] + v[NR / 2 + 1]) / 2 }'; }

# One timed run: appends "wall cpu" (seconds; cpu = user + sys) to a file.
timed() {
	local file="$1"
	shift
	local TIMEFORMAT='%R %U %S'
	{ time "$@" 2>/dev/null; } 2>"$work/one"
	awk '{ printf "%.3f %.3f\n", $1, $2 + $3 }' "$work/one" >>"$file"
}

lame_cpu=""
if command -v hyperfine >/dev/null 2>&1; then
	method="hyperfine, $runs runs each after a warm-up, median"
	q() { printf '%q ' "$@"; }
	hyperfine --warmup 1 --runs "$runs" --export-json "$work/times.json" \
		-n lame "$(q "${lame_cmd[@]}")" -n gogo "$(q "${gogo_cmd[@]}")" >/dev/null
	read -r lame_s gogo_s < <(python3 -c '
import json, sys
r = {x["command"]: x["median"] for x in json.load(open(sys.argv[1]))["results"]}
print(r["lame"], r["gogo"])' "$work/times.json")
else
	method="bash's time, $runs interleaved runs each after a warm-up, median"
	: >"$work/lame.times"
	: >"$work/gogo.times"
	for ((i = 0; i < runs; i++)); do
		timed "$work/lame.times" "${lame_cmd[@]}"
		timed "$work/gogo.times" "${gogo_cmd[@]}"
	done
	lame_s=$(cut -d' ' -f1 "$work/lame.times" | median)
	gogo_s=$(cut -d' ' -f1 "$work/gogo.times" | median)
	lame_cpu=$(cut -d' ' -f2 "$work/lame.times" | median)
	gogo_cpu=$(cut -d' ' -f2 "$work/gogo.times" | median)
	echo "lame runs, wall s: $(cut -d' ' -f1 "$work/lame.times" | tr '\n' ' ')"
	echo "gogo runs, wall s: $(cut -d' ' -f1 "$work/gogo.times" | tr '\n' ' ')"
fi

echo "input:          $source_note"
echo "lame:           $("$lame" --version 2>/dev/null | head -n 1)"
echo "settings:       -b 128, quality 3 (lame's default), ReplayGain on, joint stereo"
echo "timing:         $method"
echo "same output:    $identical"
printf 'lame -b 128:    %.3f s\n' "$lame_s"
printf 'gogo -b 128:    %.3f s\n' "$gogo_s"
awk -v g="$gogo_s" -v l="$lame_s" 'BEGIN { printf "ratio gogo/lame: %.3f (target <= 1.0)\n", g / l }'
if [[ -n "$lame_cpu" ]]; then
	# CPU time moves less than wall time on a busy machine.
	awk -v g="$gogo_cpu" -v l="$lame_cpu" 'BEGIN {
		printf "cpu (user+sys): lame %.3f s, gogo %.3f s, ratio %.3f\n", l, g, g / l }'
fi
