#!/usr/bin/env bash
# Builds Vorn and installs it for the current user, or removes what the last install put there.
#
#   scripts/install.sh [PREFIX]              install into PREFIX (default ~/.local)
#   scripts/install.sh --uninstall           remove the files of the last install
#
# Vorn keeps its settings file beside its executable (PREFIX/bin/vorn.ini) and rewrites it at
# every exit, so PREFIX must be a folder the user can write; nothing here needs root except the
# Debian packages that scripts/install-deps.sh may install.
set -euo pipefail
cd "$(dirname "$0")/.."

build=build/install
manifest=$build/install_manifest.txt

# Lets the desktop see a change at once; each tool is optional and its failure harmless.
refresh_desktop() {
    local share=$1/share
    if command -v update-desktop-database >/dev/null && [ -d "$share/applications" ]; then
        update-desktop-database -q "$share/applications" || true
    fi
    # An icon cache that is there must be brought up to date; none is made where there was none,
    # and a touched theme folder makes the desktop look again.
    if [ -f "$share/icons/hicolor/icon-theme.cache" ] && command -v gtk-update-icon-cache >/dev/null; then
        gtk-update-icon-cache -q -t -f "$share/icons/hicolor" 2>/dev/null || true
    elif [ -d "$share/icons/hicolor" ]; then
        touch "$share/icons/hicolor" || true
    fi
}

if [ "${1:-}" = --uninstall ]; then
    if [ ! -f "$manifest" ]; then
        echo "Nothing to remove: $manifest is missing (no install from this tree)." >&2
        exit 1
    fi
    prefix=$(sed -n 's/^CMAKE_INSTALL_PREFIX:PATH=//p' "$build/CMakeCache.txt")
    while IFS= read -r file || [ -n "$file" ]; do
        [ -n "$file" ] || continue
        rm -fv -- "$file"
        # The settings file that the program wrote beside its executable.
        [ "$(basename -- "$file")" != vorn ] || rm -fv -- "$file.ini"
    done <"$manifest"
    rmdir --ignore-fail-on-non-empty "$prefix/share/doc/Vorn/docs" "$prefix/share/doc/Vorn" 2>/dev/null || true
    refresh_desktop "$prefix"
    exit 0
fi

prefix=$(realpath -m -- "${1:-$HOME/.local}")
scripts/install-deps.sh
cmake --preset release -B "$build" -DCMAKE_INSTALL_PREFIX="$prefix" -DVORN_BUILD_TESTS=OFF \
    -DVORN_BUILD_BENCH=OFF >/dev/null
cmake --build "$build"
cmake --install "$build"
refresh_desktop "$prefix"

echo
echo "Vorn is installed in $prefix; its settings file will be $prefix/bin/vorn.ini."
case ":$PATH:" in
*":$prefix/bin:"*) ;;
*) echo "$prefix/bin is not on your PATH: start Vorn as $prefix/bin/vorn, or from the menu." ;;
esac
