#!/usr/bin/env bash
# Installs the build into a temporary prefix and runs the installed program as a user would
# from the launcher, on a real X server: it lists and checks a folder (-a), the check dialog and
# the main window close on Esc, the program exits with 0 and has written its settings file
# beside the installed executable. Usage: install_runs_test.sh BUILD_DIR
set -euo pipefail

build=${1:?build folder}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
prefix="$work/prefix"
cmake --install "$build" --prefix "$prefix" >/dev/null

pictures="$work/pictures"
mkdir -p "$pictures/sub"
printf '\xff\xd8\xff\xe0 picture data \xff\xd9' >"$pictures/sound.jpg"
printf '\xff\xd8\xff\xe0 cut short' >"$pictures/sub/cut.JPG"
printf 'not a picture' >"$pictures/notes.txt"

# Runs inside the X server. The waits are bounded only so that a broken build cannot hang the run.
cat >"$work/session.sh" <<'SESSION'
set -uo pipefail
prefix=$1 pictures=$2
export QT_QPA_PLATFORM=xcb
"$prefix/bin/vorn" -a "$pictures" &
vorn=$!
# Prints the id of the visible window titled by the pattern, once it shows.
await_window() {
    local id
    for _ in $(seq 300); do
        kill -0 "$vorn" 2>/dev/null || { echo "the program ended before '$1' showed" >&2; return 1; }
        id=$(xdotool search --onlyvisible --name "$1" 2>/dev/null | head -n 1)
        [ -n "$id" ] && { echo "$id"; return 0; }
        sleep 0.2
    done
    echo "no window '$1'" >&2
    return 1
}
dialog=$(await_window '^Vorn check dialog$') || exit 1
main=$(await_window '^Vorn [0-9]') || exit 1
xdotool windowfocus --sync "$dialog" key Escape 2>/dev/null
# The main window takes keys again once the dialog has closed.
for _ in $(seq 300); do
    kill -0 "$vorn" 2>/dev/null || break
    xdotool windowfocus --sync "$main" key Escape 2>/dev/null
    sleep 0.2
done
if kill -0 "$vorn" 2>/dev/null; then
    kill "$vorn"
    echo "the program did not exit on Esc" >&2
    exit 1
fi
wait "$vorn"
SESSION

status=0
timeout 120 xvfb-run -a -s "-screen 0 1280x1024x24" bash "$work/session.sh" "$prefix" "$pictures" ||
    status=$?
[ "$status" -eq 0 ] || { echo "FAIL: the installed program ended with $status"; exit 1; }

settings="$prefix/bin/vorn.ini"
[ -f "$settings" ] || { echo "FAIL: no settings file beside the installed executable"; exit 1; }
head -n 1 "$settings" | grep -q '^\[VornForm\]'$'\r''$' ||
    { echo "FAIL: unexpected settings file:"; cat -A "$settings"; exit 1; }
echo "the installed program ran and wrote $settings"
