#!/bin/bash
# Installs the program as a desktop program for the user (or under a prefix):
#   scripts/install.sh [PREFIX]              (default: ~/.local)
#   scripts/install.sh --uninstall [PREFIX]  removes exactly what it installed
# Into PREFIX go the program, the bundled gogo and the readme beside them
# (lib/tamsel-gogo-frontend) and a command in bin. A desktop entry with the
# program's icons goes where the desktop looks for the user's own
# ($XDG_DATA_HOME, else ~/.local/share), so that the program appears in the
# application menu wherever PREFIX is. The
# installed gogo is recorded as the program's encoder. Installing again keeps
# the settings of the installed program: they are the user's.
#
# The program itself may install its list type into the user's home (its
# MIME package, icons and database entries, and the default in
# mimeapps.list that names the desktop entry). Uninstalling takes that away
# too, with withdraw_type, installed beside the program for it; the type
# stays while another application is a default of it as well.
set -euo pipefail
cd "$(dirname "$0")/.."

uninstall=false
if [ "${1:-}" = "--uninstall" ]; then
	uninstall=true
	shift
fi
PREFIX=${1:-$HOME/.local}
PREFIX=${PREFIX%/}
LIB="$PREFIX/lib/tamsel-gogo-frontend"
SHARE=${XDG_DATA_HOME:-$HOME/.local/share}
SHARE=${SHARE%/}
MANIFEST="$LIB/installed-files"
SIGNATURE_NAME=application-x-vnd.TamselGogoFrontend
LIST_TYPE=text/x-TamselGogoFronted-list
ENTRY="$SHARE/applications/$SIGNATURE_NAME.desktop"
LAUNCHER="$SHARE/$SIGNATURE_NAME/launch"

if $uninstall; then
	if [ ! -f "$MANIFEST" ]; then
		echo "Nothing of Tamsel Gogo Frontend is installed under $PREFIX."
		exit 1
	fi
	mapfile -t installed <"$MANIFEST"
	# The list type the program installed for itself, while its helper is
	# still there (an older installation has none: the build's, if any).
	withdraw="$LIB/withdraw_type"
	[ -x "$withdraw" ] || withdraw="${BUILD:-build}/withdraw_type"
	if [ -x "$withdraw" ]; then
		"$withdraw" "$LIST_TYPE" "$SIGNATURE_NAME.desktop" \
			|| echo "The list type $LIST_TYPE could not be taken away." >&2
	else
		echo "No withdraw_type: the list type $LIST_TYPE is left as it is." >&2
	fi
	rm -f -- "$MANIFEST"
	# Files and links first, then the folders that were made for them, the
	# deepest first, each only when nothing else has been put in it.
	for path in "${installed[@]}"; do
		[ -d "$path" ] && [ ! -L "$path" ] && continue
		rm -f -- "$path"
	done
	if [ -d "$SHARE/applications" ]; then
		command -v update-desktop-database >/dev/null && update-desktop-database "$SHARE/applications" 2>/dev/null || true
		# The desktop's cache of a folder that only we had put anything in.
		if printf '%s\n' "${installed[@]}" | grep -qxF -- "$SHARE/applications" \
			&& [ "$(ls -A "$SHARE/applications")" = mimeinfo.cache ]; then
			rm -f -- "$SHARE/applications/mimeinfo.cache"
		fi
	fi
	while IFS= read -r path; do
		[ -d "$path" ] && [ ! -L "$path" ] && rmdir -- "$path" 2>/dev/null || true
	done < <(printf '%s\n' "${installed[@]}" | sort -r)
	echo "Tamsel Gogo Frontend removed from $PREFIX."
	exit 0
fi

BUILD=${BUILD:-build}
if [ ! -x "$BUILD/TamselGogoFrontend" ] || [ ! -x "$BUILD/gogo" ] || [ ! -x "$BUILD/export_icons" ] \
	|| [ ! -x "$BUILD/withdraw_type" ]; then
	scripts/setup.sh
	cmake -S . -B "$BUILD" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
	cmake --build "$BUILD" -j "$(nproc)" --target TamselGogoFrontend gogo export_icons record_encoder \
		withdraw_type
fi

# Every path made here is noted (folders too), so that uninstalling takes
# exactly these away; what was there before is not noted again.
declare -A noted=()
made=()
if [ -f "$MANIFEST" ]; then
	while IFS= read -r path; do
		noted[$path]=1
		made+=("$path")
	done <"$MANIFEST"
fi
note() {
	[ -n "${noted[$1]:-}" ] && return 0
	noted[$1]=1
	made+=("$1")
}
folder() { # makes the folder and its missing parents, noting each
	local missing=() path=$1
	while [ ! -d "$path" ]; do
		missing=("$path" "${missing[@]}")
		path=$(dirname "$path")
	done
	for path in "${missing[@]}"; do
		mkdir -- "$path"
		note "$path"
	done
}
# Puts a file in place whole: written aside, synced, renamed over.
place() { # source target mode
	local aside
	aside=$(mktemp "$(dirname "$2")/.install.XXXXXX")
	cp -- "$1" "$aside"
	chmod "$3" "$aside"
	sync -- "$aside"
	mv -f -- "$aside" "$2"
	note "$2"
}

folder "$LIB"

place "$BUILD/gogo" "$LIB/gogo" 0755
place resources/readme "$LIB/readme" 0644
place "$BUILD/withdraw_type" "$LIB/withdraw_type" 0755

# The program: its settings are attributes of the installed file, so those
# of an installed copy go over to the new one before it takes its place.
program=$(mktemp "$LIB/.install.XXXXXX")
cp -- "$BUILD/TamselGogoFrontend" "$program"
chmod 0755 "$program"
if [ -f "$LIB/TamselGogoFrontend" ] && command -v getfattr >/dev/null; then
	getfattr --absolute-names -d -m '^user\.' "$LIB/TamselGogoFrontend" 2>/dev/null \
		| sed "1s|^# file: .*|# file: $program|" | setfattr --restore=- 2>/dev/null || true
fi
# A fresh copy has no settings: the installed gogo becomes its encoder.
"$BUILD/record_encoder" "$program" "$LIB/gogo"
sync -- "$program"
mv -f -- "$program" "$LIB/TamselGogoFrontend"
note "$LIB/TamselGogoFrontend"

folder "$PREFIX/bin"
ln -sfn -- "$LIB/TamselGogoFrontend" "$PREFIX/bin/tamsel-gogo-frontend"
note "$PREFIX/bin/tamsel-gogo-frontend"

# The desktop entry names a plainly named link to the program, as the
# program itself does when it installs its list type.
folder "$SHARE/$SIGNATURE_NAME"
ln -sfn -- "$LIB/TamselGogoFrontend" "$LAUNCHER"
note "$LAUNCHER"
exec_path=$LAUNCHER
case $exec_path in
*[\ \	\"\'\\\>\<\~\|\&\;\$\*\?\#\(\)\`%]*)
	exec_path="\"$(printf '%s' "$exec_path" | sed -e 's/[\\"`$]/\\\\&/g' -e 's/%/%%/g')\"" ;;
esac

folder "$SHARE/icons/hicolor/32x32/apps"
folder "$SHARE/icons/hicolor/16x16/apps"
"$BUILD/export_icons" "$LIB/TamselGogoFrontend" "$SHARE/icons/hicolor" "$SIGNATURE_NAME"
note "$SHARE/icons/hicolor/32x32/apps/$SIGNATURE_NAME.png"
note "$SHARE/icons/hicolor/16x16/apps/$SIGNATURE_NAME.png"

folder "$SHARE/applications"
entry=$(mktemp)
cat >"$entry" <<ENTRY
[Desktop Entry]
Type=Application
Name=Tamsel Gogo Frontend
Comment=Simple GUI frontend for Gogo, the open source MP3 encoder.
Exec=$exec_path %F
Icon=$SIGNATURE_NAME
MimeType=$LIST_TYPE;
Categories=AudioVideo;Audio;
NoDisplay=false
Terminal=false
X-Tamsel-Signature=application/x-vnd.TamselGogoFrontend
ENTRY
place "$entry" "$ENTRY" 0644
rm -f -- "$entry"
command -v update-desktop-database >/dev/null && update-desktop-database "$SHARE/applications" 2>/dev/null || true

printf '%s\n' "${made[@]}" >"$MANIFEST.new"
sync -- "$MANIFEST.new"
mv -f -- "$MANIFEST.new" "$MANIFEST"
echo "Tamsel Gogo Frontend installed under $PREFIX:"
echo "  $PREFIX/bin/tamsel-gogo-frontend starts it; it is in the application menu."
