# What the end-to-end scripts share; sourced, not run.
#
# Waits are deadlines, not counts of tries: a check that takes long on a
# busy machine does not shorten the time it is given, and a wait that
# succeeds returns at once, so limits can be generous.

# wait_for SECONDS COMMAND...: runs COMMAND until it succeeds; 1 when the
# deadline passes first.
wait_for() {
	local deadline=$((SECONDS + $1))
	shift
	while true; do
		"$@" >/dev/null 2>&1 && return 0
		[ "$SECONDS" -lt "$deadline" ] || return 1
		sleep 0.05
	done
}

# start_xvfb LOGFILE: an X server of our own on a display number it picks
# itself (-displayfd), so that scripts run side by side never meet on one;
# sets SERVER_PID and exports DISPLAY. Fails the script when the server
# does not come up within a minute.
start_xvfb() {
	local log=$1 numberFile
	numberFile=$(mktemp)
	Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp 3>"$numberFile" >"$log" 2>&1 &
	SERVER_PID=$!
	if ! wait_for 60 grep -q '[0-9]' "$numberFile"; then
		echo "FAILED: Xvfb did not start"; cat "$log"; rm -f "$numberFile"; exit 1
	fi
	export DISPLAY=":$(tr -dc 0-9 <"$numberFile")"
	rm -f "$numberFile"
	if ! wait_for 60 xdotool getmouselocation; then
		echo "FAILED: Xvfb on $DISPLAY does not answer"; cat "$log"; exit 1
	fi
}
