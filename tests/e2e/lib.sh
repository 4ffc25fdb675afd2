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

# quit_program WHAT: asks the program APP_PID to quit (SIGTERM), as a
# session's end does, and waits for it to end; fails the script with
# "FAILED: WHAT" when it does not.
quit_program() {
	kill -TERM "$APP_PID"
	if ! wait_for 60 bash -c "! kill -0 $APP_PID"; then
		echo "FAILED: $1"; exit 1
	fi
}

# start_xvfb LOGFILE: an X server of our own, sets SERVER_PID and exports
# DISPLAY. The display number is asked for explicitly: Xvfb then takes the
# display's lock file first and ends at once when another server holds it
# (with -displayfd it may unlink another server's socket while it looks for
# a free number). The server counts as ours only once the lock names its
# process and it answers. -noreset: by default the server resets when its
# last client leaves (our check, or a program that quit), and a program
# connecting during that reset is refused, which a loaded machine makes
# likely. Fails the script when none comes up in a minute.
start_xvfb() {
	local log=$1 number deadline
	deadline=$((SECONDS + 60))
	while [ "$SECONDS" -lt "$deadline" ]; do
		number=$((100 + RANDOM % 400))
		[ -e "/tmp/.X$number-lock" ] && continue
		Xvfb ":$number" -screen 0 1024x768x24 -nolisten tcp -noreset >"$log" 2>&1 &
		SERVER_PID=$!
		while kill -0 "$SERVER_PID" 2>/dev/null && [ "$SECONDS" -lt "$deadline" ]; do
			if [ "$(cat "/tmp/.X$number-lock" 2>/dev/null | tr -dc 0-9)" = "$SERVER_PID" ] \
					&& DISPLAY=":$number" xdotool getmouselocation >/dev/null 2>&1; then
				export DISPLAY=":$number"
				return 0
			fi
			sleep 0.05
		done
		# Another server had the number (or ours is too slow): try again.
		kill "$SERVER_PID" 2>/dev/null || true
		wait "$SERVER_PID" 2>/dev/null || true
		SERVER_PID=""
	done
	echo "FAILED: no X server could be started"; cat "$log"; exit 1
}
