#!/usr/bin/env bash
# Installs the build into a temporary prefix whose name the launcher must quote, and runs the
# installed program on a real X server as a user would:
# - from a shell with -a and a folder: the check dialog and then the main window close on Esc,
#   the program exits with 0, and its settings file is written beside the installed executable;
# - through the installed launcher with a JPEG file, the way a file manager's "Open with" starts
#   it: the program gets the file's path as its one argument. Without gio this part is not
#   tried, and the run ends with status 77 (skipped) when the rest passed.
# Usage: install_runs_test.sh BUILD_DIR
set -euo pipefail

build=${1:?build folder}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
prefix="$work/my apps"
cmake --install "$build" --prefix "$prefix" >/dev/null

pictures="$work/pictures"
mkdir -p "$pictures/sub"
printf '\xff\xd8\xff\xe0 picture data \xff\xd9' >"$pictures/sound photo.jpg"
printf '\xff\xd8\xff\xe0 cut short' >"$pictures/sub/cut.JPG"
printf 'not a picture' >"$pictures/notes.txt"

# Runs inside the X server. The waits are bounded only so that a broken build cannot hang the run.
launcher=yes
command -v gio >/dev/null || launcher=no
cat >"$work/session.sh" <<'SESSION'
set -uo pipefail
prefix=$1 pictures=$2 launcher=$3
export QT_QPA_PLATFORM=xcb

# await_window PID PATTERN: prints the id of PID's visible window titled by PATTERN, once it shows.
await_window() {
    local id
    for _ in $(seq 300); do
        kill -0 "$1" 2>/dev/null || { echo "the program ended before '$2' showed" >&2; return 1; }
        id=$(xdotool search --all --onlyvisible --pid "$1" --name "$2" 2>/dev/null | head -n 1)
        [ -n "$id" ] && { echo "$id"; return 0; }
        sleep 0.2
    done
    echo "no window '$2'" >&2
    return 1
}
# close_with_esc PID WINDOW: presses Esc in the window until the program has ended; the main
# window takes keys again only once a dialog over it has closed.
close_with_esc() {
    for _ in $(seq 300); do
        kill -0 "$1" 2>/dev/null || return 0
        xdotool windowfocus --sync "$2" key Escape 2>/dev/null
        sleep 0.2
    done
    kill "$1"
    echo "the program ($1) did not exit on Esc" >&2
    return 1
}

"$prefix/bin/vorn" -a "$pictures" &
vorn=$!
dialog=$(await_window "$vorn" '^Vorn check dialog$') || exit 1
main=$(await_window "$vorn" '^Vorn [0-9]') || exit 1
xdotool windowfocus --sync "$dialog" key Escape 2>/dev/null
close_with_esc "$vorn" "$main" || exit 1
wait "$vorn" || { echo "the program ended with $?" >&2; exit 1; }

if [ "$launcher" = yes ]; then
    gio launch "$prefix/share/applications/org.vorn.Vorn.desktop" "$pictures/sound photo.jpg" ||
        { echo "the launcher did not start" >&2; exit 1; }
    launched=""
    for _ in $(seq 300); do
        launched=$(pgrep -n -f -x "$prefix/bin/vorn .*") && break
        sleep 0.2
    done
    [ -n "$launched" ] || { echo "no program started by the launcher" >&2; exit 1; }
    main=$(await_window "$launched" '^Vorn [0-9]') || exit 1
    expected=$(printf '%s\n%s' "$prefix/bin/vorn" "$pictures/sound photo.jpg")
    actual=$(tr '\0' '\n' <"/proc/$launched/cmdline")
    close_with_esc "$launched" "$main" || exit 1
    [ "$actual" = "$expected" ] ||
        { printf 'the launcher started:\n%s\nexpected:\n%s\n' "$actual" "$expected" >&2; exit 1; }
fi
SESSION

status=0
timeout 180 xvfb-run -a -s "-screen 0 1280x1024x24" bash "$work/session.sh" "$prefix" "$pictures" \
    "$launcher" || status=$?
[ "$status" -eq 0 ] || { echo "FAIL: the session ended with $status"; exit 1; }

settings="$prefix/bin/vorn.ini"
[ -f "$settings" ] || { echo "FAIL: no settings file beside the installed executable"; exit 1; }
head -n 1 "$settings" | grep -q '^\[VornForm\]'$'\r''$' ||
    { echo "FAIL: unexpected settings file:"; cat -A "$settings"; exit 1; }
if [ "$launcher" = no ]; then
    echo "the installed program ran and wrote $settings"
    echo "SKIP: gio is missing (Debian package libglib2.0-bin): launching through the launcher not tried"
    exit 77
fi
echo "the installed program ran, wrote $settings and started from its launcher"
