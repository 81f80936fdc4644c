#!/usr/bin/env bash
# Redraws docs/screenshot.png: the main window and the check dialog right after a run over a
# folder of sample files, on a virtual X server with the openbox window manager.
#
#   scripts/screenshot.sh [OUTPUT.png]
#
# Builds Vorn (release preset), runs a copy of it from a temporary folder with settings that
# size its window, and captures the screen once the check dialog shows. ImageMagick is installed
# here for the capture only; Vorn itself does not need it.
set -euo pipefail
cd "$(dirname "$0")/.."

output=$(realpath -m -- "${1:-docs/screenshot.png}")
scripts/install-deps.sh
if ! command -v import >/dev/null; then
    sudo=""
    [ "$(id -u)" -ne 0 ] && sudo="sudo"
    $sudo apt-get update -q
    DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -q --no-install-recommends imagemagick
fi
cmake --preset release >/dev/null
cmake --build --preset release --target vorn

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# A copy of the executable, so that the settings file beside it is this run's own.
mkdir -p "$work/bin"
cp build/release/app/vorn "$work/bin/vorn"
printf '[VornForm]\r\nLeft=24\r\nTop=24\r\nWidth=640\r\nHeight=360\r\n\r\n' >"$work/bin/vorn.ini"
printf '[FileListView]\r\nFileName=470\r\nError=120\r\n\r\n' >>"$work/bin/vorn.ini"

# Sample files: only their first and last two bytes matter to the check.
jpeg() { # jpeg FILE [TAIL]: a sound file, followed by TAIL (with \xHH escapes) when given
    mkdir -p "$(dirname "$1")"
    { printf '\xff\xd8\xff\xe0\x00\x10JFIF\x00'; head -c 3000 /dev/urandom; printf '\xff\xd9'; } >"$1"
    if [ $# -gt 1 ]; then printf '%b' "$2" >>"$1"; fi
}
pictures="$work/Pictures"
jpeg "$pictures/Holiday/IMG_0101.jpg"
jpeg "$pictures/Holiday/IMG_0102.jpg"
# Cut short by an interrupted copy: no end marker.
jpeg "$pictures/Holiday/IMG_0103.jpg" && head -c 1500 "$pictures/Holiday/IMG_0103.jpg" >"$work/cut" &&
    mv "$work/cut" "$pictures/Holiday/IMG_0103.jpg"
jpeg "$pictures/Holiday/IMG_0104.JPG"
# A phone's motion photo: a video follows the picture's end marker.
jpeg "$pictures/Phone/PXL_20260704_181512.MP.jpg" '\x00\x00\x00\x18ftypmp42 video data'
jpeg "$pictures/Phone/PXL_20260704_181540.jpg"
# Not a JPEG file at all, only named like one.
printf '\x89PNG\r\n\x1a\n' >"$pictures/Phone/screenshot.jpg"
jpeg "$pictures/Scans/letter.jpeg"
: >"$pictures/Scans/empty.jpg"
jpeg "$pictures/Scans/receipt.jpeg"
printf 'not listed' >"$pictures/Scans/notes.txt"

cat >"$work/session.sh" <<'SESSION'
set -euo pipefail
work=$1 output=$2
export QT_QPA_PLATFORM=xcb
openbox &
openbox=$!
# A window mapped before the window manager has taken the screen can stay unmapped (a blank
# screen, and no dialog to wait for): start Vorn once openbox says it runs.
for _ in $(seq 100); do
    xprop -root _NET_SUPPORTING_WM_CHECK 2>/dev/null | grep -q 'window id' && break
    sleep 0.1
done
# The captions are the paths as given: run from the temporary folder so they read Pictures/...
cd "$work"
bin/vorn -a Pictures &
vorn=$!
shown=""
for _ in $(seq 300); do
    kill -0 "$vorn" 2>/dev/null || break
    shown=$(xdotool search --onlyvisible --name '^Vorn check dialog$' 2>/dev/null | head -n 1) || true
    [ -n "$shown" ] && break
    sleep 0.2
done
if [ -z "$shown" ]; then
    echo "The check dialog did not show: does 'vorn -a DIR' list and check yet?" >&2
    kill "$vorn" "$openbox" 2>/dev/null || true
    exit 1
fi
sleep 1 # let both windows finish painting
import -window root "$work/screen.png"
kill "$vorn" "$openbox" 2>/dev/null || true
# Cut the black desktop away, keeping a margin around the two windows.
convert "$work/screen.png" -trim +repage -bordercolor '#3c4a5a' -border 12 "$output"
SESSION

mkdir -p "$(dirname "$output")"
xvfb-run -a -s "-screen 0 1024x600x24" bash "$work/session.sh" "$work" "$output"
echo "Wrote $output"
