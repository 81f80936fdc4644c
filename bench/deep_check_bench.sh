#!/usr/bin/env bash
# vorn-check --deep against libjpeg's own tools. Prints figures; asserts nothing.
#
#   bench/deep_check_bench.sh [VORN_CHECK] [PHOTO_FOLDER]
#
# 1. Detection: the damage suite (tests/data/make_damage_suite.py), each kind of damage counted
#    as found by --deep, by djpeg and by jpeginfo -c; intact files and trailers should be found
#    by none.
# 2. Safety: each hostile file's verdict, wall time and peak memory.
# 3. Memory: six sparse 250 MB files, each a small picture and a hole, checked at once: wall
#    time and peak memory (only the pictures should be held).
# 4. Speed: --deep with the default jobs against jpeginfo -c on every JPEG file in PHOTO_FOLDER
#    (default: the photos of Debian's wallpaper packages), whole process, best of five.
# Installs jpeginfo, libjpeg-turbo-progs and the wallpaper packages when they are missing.
set -euo pipefail

here=$(cd "$(dirname "$0")/.." && pwd)
check=${1:-$here/build/release/cli/vorn-check}
photos=${2:-/usr/share/backgrounds}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

need=()
for package in jpeginfo libjpeg-turbo-progs time mate-backgrounds ukui-wallpapers \
    lomiri-wallpapers gnome-backgrounds; do
    dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "install ok installed" ||
        need+=("$package")
done
if [ ${#need[@]} -gt 0 ]; then
    sudo=""
    [ "$(id -u)" -ne 0 ] && sudo="sudo"
    $sudo apt-get install -y -q --no-install-recommends "${need[@]}" >/dev/null
fi

python3 "$here/tests/data/make_damage_suite.py" "$here/tests/data/jpeg" "$work/suite"
for f in "$here"/tests/data/jpeg/*.jpg; do
    cp "$f" "$work/suite/$(basename "$f" .jpg)-intact.jpg"
done

echo "== Detection: files found faulty, by kind (of N files)"
printf "%-22s %5s %7s %7s %9s\n" kind N deep djpeg jpeginfo
declare -A total deep djpeg jpeginfo
for f in "$work"/suite/*.jpg; do
    name=$(basename "$f" .jpg)
    case $name in hostile-*) continue ;; esac
    kind=${name#*-}
    total[$kind]=$((${total[$kind]:-0} + 1))
    verdict=$("$check" --deep "$f" | cut -f3 || true)
    [ "$verdict" != sound ] && deep[$kind]=$((${deep[$kind]:-0} + 1))
    if ! timeout 30 djpeg -outfile /dev/null "$f" >/dev/null 2>"$work/err" || [ -s "$work/err" ]; then
        djpeg[$kind]=$((${djpeg[$kind]:-0} + 1))
    fi
    if ! timeout 30 jpeginfo -c "$f" | grep -q " OK"; then
        jpeginfo[$kind]=$((${jpeginfo[$kind]:-0} + 1))
    fi
done
for kind in $(printf "%s\n" "${!total[@]}" | sort); do
    printf "%-22s %5d %7d %7d %9d\n" "$kind" "${total[$kind]}" "${deep[$kind]:-0}" \
        "${djpeg[$kind]:-0}" "${jpeginfo[$kind]:-0}"
done

echo
echo "== Safety: hostile files (verdict; wall seconds, peak KB)"
for f in "$work"/suite/hostile-*.jpg; do
    printf "%s (%d bytes)\n" "$(basename "$f")" "$(stat -c %s "$f")"
    /usr/bin/time -f "  %e s, %M KB" "$check" --deep "$f" | cut -f3,4 | sed 's/^/  /' || true
done

echo
echo "== Memory: six 250 MB files of a small picture and padding (wall seconds, peak KB)"
mkdir "$work/padded"
for i in 1 2 3 4 5 6; do
    cp "$here/tests/data/jpeg/grey.jpg" "$work/padded/p$i.jpg"
    truncate -s 250M "$work/padded/p$i.jpg"
done
/usr/bin/time -f "  %e s, %M KB" "$check" --deep "$work/padded" >/dev/null || true

echo
echo "== Speed: $photos"
find "$photos" -type f \( -iname '*.jpg' -o -iname '*.jpeg' \) -print0 | sort -z >"$work/list"
count=$(tr -cd '\0' <"$work/list" | wc -c)
bytes=$(xargs -0 stat -c %s <"$work/list" | paste -sd+ | bc)
echo "$count files, $bytes bytes"
best() {
    local best=
    for _ in 1 2 3 4 5 6; do
        local t
        /usr/bin/time -f "%e" -o "$work/time" "$@" >/dev/null 2>&1 || true
        t=$(tail -1 "$work/time")
        if [ -z "$best" ] || [ "$(echo "$t < $best" | bc)" = 1 ]; then best=$t; fi
    done
    echo "$best"
}
deep_time=$(best sh -c "xargs -0 '$check' --deep <'$work/list'")
info_time=$(best sh -c "xargs -0 jpeginfo -c <'$work/list'")
echo "vorn-check --deep: $deep_time s   jpeginfo -c: $info_time s   (best of six)"
