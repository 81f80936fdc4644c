#!/usr/bin/env bash
# Packages the finished build as scripts/package.sh does and checks the package: its files are
# the expected set, lintian finds no error, and unpacked into a temporary root its vorn-check
# finds a damaged file and its window, where /usr/bin cannot be written, keeps its settings
# under XDG_CONFIG_HOME. Usage: package_test.sh SOURCE_DIR BUILD_DIR
set -euo pipefail

source=${1:?source folder} build=${2:?build folder}
work=$(mktemp -d)
trap 'chmod -R u+w "$work"; rm -rf "$work"' EXIT
chmod 0755 "$work"
fail() { echo "FAIL: $*"; exit 1; }

"$source/scripts/package.sh" --build "$build" --output "$work" >/dev/null
version=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' "$build/CMakeCache.txt")
package=$work/vorn_${version}_$(dpkg --print-architecture).deb
[ -f "$package" ] || fail "no $package"
grep -q "<release version=\"$version\"" "$source/data/vorn.metainfo.xml" ||
    fail "the metainfo has no release $version"

expected="usr/bin/vorn
usr/bin/vorn-check
usr/share/applications/org.vorn.Vorn.desktop
usr/share/doc/vorn/README.md.gz
usr/share/doc/vorn/changelog.gz
usr/share/doc/vorn/copyright
usr/share/doc/vorn/docs/screenshot.png
usr/share/icons/hicolor/scalable/apps/org.vorn.Vorn.svg
usr/share/man/man1/vorn-check.1.gz
usr/share/man/man1/vorn.1.gz
usr/share/metainfo/org.vorn.Vorn.metainfo.xml"
actual=$(dpkg-deb -c "$package" | awk '$1 !~ /^d/ { sub(/^\.\//, "", $6); print $6 }' | sort)
[ "$actual" = "$expected" ] || fail "the package holds:"$'\n'"$actual"
dpkg-deb -f "$package" Depends | grep -q libqt6widgets6 || fail "no dependencies from the binaries"

lintian "$package" >"$work/lintian.log" 2>&1 || { cat "$work/lintian.log"; fail "lintian"; }

root=$work/root
dpkg-deb -x "$package" "$root"
printf '\xff\xd8\xff\xe0 cut short' >"$work/cut.jpg"
report=$("$root/usr/bin/vorn-check" "$work/cut.jpg") && fail "vorn-check passed a damaged file"
[ "$report" = "EOI	$work/cut.jpg" ] || fail "vorn-check reported: $report"

# The unpacked /usr/bin is not writable, also for root, who takes an ordinary user's place.
chmod a-w "$root/usr/bin"
home=$work/home
mkdir -p "$home"
run=()
if [ "$(id -u)" -eq 0 ]; then
    chown 65534:65534 "$home"
    run=(setpriv --reuid=65534 --regid=65534 --clear-groups)
fi
cat >"$work/session.sh" <<'SESSION'
set -uo pipefail
vorn=$1 home=$2
shift 2
# The X server's key, readable by the user the window runs as.
cp "$XAUTHORITY" "$home/.Xauthority" && chmod 0644 "$home/.Xauthority"
"$@" env HOME="$home" XDG_CONFIG_HOME="$home/config" XAUTHORITY="$home/.Xauthority" \
    QT_QPA_PLATFORM=xcb "$vorn" &
pid=$!
for _ in $(seq 300); do
    window=$(xdotool search --all --onlyvisible --pid "$pid" --name '^Vorn [0-9]' 2>/dev/null | head -n 1)
    [ -n "$window" ] && break
    kill -0 "$pid" 2>/dev/null || { echo "the window ended before it showed" >&2; exit 1; }
    sleep 0.2
done
[ -n "$window" ] || { kill "$pid"; echo "no window" >&2; exit 1; }
for _ in $(seq 300); do
    kill -0 "$pid" 2>/dev/null || break
    xdotool windowfocus --sync "$window" key Escape 2>/dev/null
    sleep 0.2
done
wait "$pid"
SESSION
timeout 120 xvfb-run -a -s "-screen 0 1280x1024x24" bash "$work/session.sh" \
    "$root/usr/bin/vorn" "$home" "${run[@]}" || fail "the window ended with $?"
settings=$home/config/vorn/vorn.ini
[ -f "$settings" ] || fail "no settings file at $settings"
head -n 1 "$settings" | grep -q '^\[VornForm\]'$'\r''$' || fail "unexpected settings: $(cat -A "$settings")"
[ ! -e "$root/usr/bin/vorn.ini" ] || fail "settings written beside the executable"
echo "packaged, lintian clean, and the unpacked programs ran"
