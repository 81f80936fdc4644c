#!/usr/bin/env bash
# Installs the build into temporary prefixes, among them ones whose names hold characters that a
# launcher's command line must quote, and reads each install as a desktop does: the launcher and
# the software metadata pass their validators, every name they give resolves to an installed
# file, "Open with" offers Vorn for JPEG files and never for folders, and nothing lands outside
# the prefix. A check whose tool is missing is not tried, and the run then ends with status 77
# (skipped) when nothing failed. Usage: install_desktop_files_test.sh BUILD_DIR
set -uo pipefail

build=${1:?build folder}
id=org.vorn.Vorn
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
failures=0
label=""
fail() {
    echo "FAIL [$label]: $*"
    failures=$((failures + 1))
}
skipped=()
# skip TOOL PACKAGE WHAT: notes once that WHAT is not checked, TOOL (of PACKAGE) being missing.
skip() {
    local note="$1 is missing (Debian package $2): $3 not checked"
    [[ " ${skipped[*]-} " == *" $note "* ]] || skipped+=("$note")
}

# check_install NAME EXEC TRYEXEC: installs into $work/NAME and expects the launcher's Exec and
# TryExec lines to read EXEC and TRYEXEC.
check_install() {
    label=$1
    local prefix="$work/$1" expectedExec=$2 expectedTryExec=$3
    local apps="$prefix/share/applications" desktop="$prefix/share/applications/$id.desktop"
    local metainfo="$prefix/share/metainfo/$id.metainfo.xml"

    if ! cmake --install "$build" --prefix "$prefix" >"$work/install.log" 2>&1; then
        cat "$work/install.log"
        fail "cmake --install failed"
        return
    fi

    # Everything goes under the prefix: an install into ~/.local must not need root.
    while IFS= read -r installed || [ -n "$installed" ]; do
        [[ $installed == "$prefix/"* ]] || fail "installed outside the prefix: $installed"
    done <"$build/install_manifest.txt"

    local file
    for file in bin/vorn share/applications/$id.desktop share/icons/hicolor/scalable/apps/$id.svg \
        share/metainfo/$id.metainfo.xml share/man/man1/vorn.1 share/doc/Vorn/LICENSE; do
        [ -s "$prefix/$file" ] || fail "missing or empty: $file"
    done

    # A working executable: an ELF program whose libraries all resolve from the install.
    [ -x "$prefix/bin/vorn" ] || fail "bin/vorn is not executable"
    [ "$(head -c 4 "$prefix/bin/vorn" | od -An -c | tr -d ' ')" = '177ELF' ] ||
        fail "bin/vorn is not an ELF file"
    if ldd "$prefix/bin/vorn" | grep -q 'not found'; then
        fail "bin/vorn has unresolved libraries: $(ldd "$prefix/bin/vorn" | grep 'not found')"
    fi

    [ -f "$desktop" ] || return
    local report
    report=$(desktop-file-validate "$desktop" 2>&1) || fail "desktop-file-validate failed"
    if grep -Eq ': (error|warning):' <<<"$report"; then fail "desktop-file-validate: $report"; fi
    report=$(appstreamcli validate --no-net --strict "$metainfo" 2>&1) ||
        fail "appstreamcli validate: $report"

    local exec tryExec icon mimeTypes
    exec=$(grep '^Exec=' "$desktop")
    tryExec=$(grep '^TryExec=' "$desktop")
    icon=$(sed -n 's/^Icon=//p' "$desktop")
    mimeTypes=$(sed -n 's/^MimeType=//p' "$desktop")
    [ "$exec" = "$expectedExec" ] || fail "launcher has '$exec', expected '$expectedExec'"
    [ "$tryExec" = "$expectedTryExec" ] || fail "launcher has '$tryExec', expected '$expectedTryExec'"
    [ -f "$prefix/share/icons/hicolor/scalable/apps/$icon.svg" ] ||
        fail "the launcher's icon '$icon' is not installed"
    [[ ";$mimeTypes" == *";image/jpeg;"* ]] || fail "launcher does not take image/jpeg: $mimeTypes"
    [[ $mimeTypes != *inode/directory* ]] || fail "launcher takes folders: $mimeTypes"

    # The metadata names itself and the launcher by the one id.
    grep -q "<id>$id</id>" "$metainfo" || fail "metainfo id is not $id"
    grep -q "<launchable type=\"desktop-id\">$id.desktop</launchable>" "$metainfo" ||
        fail "metainfo does not launch $id.desktop"

    # What a file manager's "Open with" reads.
    if update-desktop-database "$apps" 2>"$work/udd.log"; then
        grep -q "^image/jpeg=.*$id.desktop" "$apps/mimeinfo.cache" ||
            fail "not offered for image/jpeg: $(cat "$apps/mimeinfo.cache")"
        if grep -q "^inode/directory=.*$id.desktop" "$apps/mimeinfo.cache"; then
            fail "offered for folders"
        fi
    else
        fail "update-desktop-database: $(cat "$work/udd.log")"
    fi

    if command -v xmllint >/dev/null; then
        xmllint --noout "$prefix/share/icons/hicolor/scalable/apps/$id.svg" || fail "icon is not well-formed"
    else
        skip xmllint libxml2-utils "the icon's XML"
    fi
    if command -v groff >/dev/null; then
        local page
        for page in "$prefix"/share/man/man1/*.1; do
            report=$(groff -man -ww -z "$page" 2>&1)
            [ -z "$report" ] || fail "manual page $(basename "$page"): $report"
        done
    else
        skip groff groff-base "the manual pages"
    fi
}

# Exec quotes a path that holds a reserved character and escapes ", `, $ and \ inside the quotes;
# the entry file then doubles every backslash and a literal % is written %%. TryExec is a plain
# string: only the backslash is doubled. The prefixes are literal names, hence single quotes.
check_install plain "Exec=$work/plain/bin/vorn %F" "TryExec=$work/plain/bin/vorn"
# shellcheck disable=SC2016
check_install 'my apps $1 100%' "Exec=\"$work/my apps \\\\\$1 100%%/bin/vorn\" %F" \
    "TryExec=$work/my apps \$1 100%/bin/vorn"
# shellcheck disable=SC2016
check_install 'say "hi" `now`' "Exec=\"$work/say \\\\\"hi\\\\\" \\\\\`now\\\\\`/bin/vorn\" %F" \
    "TryExec=$work/say \"hi\" \`now\`/bin/vorn"

if [ "$failures" -ne 0 ]; then
    echo "$failures check(s) failed"
    exit 1
fi
if [ ${#skipped[@]} -ne 0 ]; then
    printf 'SKIP: %s\n' "${skipped[@]}"
    echo "every other check passed"
    exit 77
fi
echo "every install checked"
