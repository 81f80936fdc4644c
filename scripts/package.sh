#!/usr/bin/env bash
# Builds the Debian package of Vorn: vorn_<version>_<arch>.deb, installed with
# `apt install ./vorn_<version>_<arch>.deb`. The version is the project() VERSION of
# CMakeLists.txt.
#
#   scripts/package.sh [--build DIR] [--output DIR] [--version VERSION]
#
# --build DIR reuses a finished build folder instead of building one (build/package, a release
# build with Debian's hardening flags); --output names the folder the package goes to (the
# checkout by default); --version overrides the version, for trying an upgrade between two
# packages of one tree.
set -euo pipefail
cd "$(dirname "$0")/.."
source=$PWD

build="" output=$PWD version=""
while [ $# -gt 0 ]; do
    case $1 in
    --build) build=$(realpath -- "$2"); shift 2 ;;
    --output) output=$(realpath -- "$2"); shift 2 ;;
    --version) version=$2; shift 2 ;;
    *) echo "usage: scripts/package.sh [--build DIR] [--output DIR] [--version VERSION]" >&2; exit 2 ;;
    esac
done

if [ -z "$build" ]; then
    scripts/install-deps.sh
    build=$source/build/package
    # A distribution build: Debian's flags (fortified, hardened), and a newer compiler's new
    # warning does not stop it.
    cmake --preset release -B "$build" -DVORN_BUILD_TESTS=OFF -DVORN_BUILD_BENCH=OFF \
        -DVORN_WERROR=OFF -DCMAKE_INSTALL_PREFIX=/usr \
        -DCMAKE_CXX_FLAGS="$(dpkg-buildflags --get CXXFLAGS) $(dpkg-buildflags --get CPPFLAGS)" \
        -DCMAKE_EXE_LINKER_FLAGS="$(dpkg-buildflags --get LDFLAGS)" >/dev/null
    cmake --build "$build" --target vorn vorn-check
fi
[ -n "$version" ] || version=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' "$build/CMakeCache.txt")
arch=$(dpkg --print-architecture)
# The maintainer as Debian's tools take it; otherwise the author of the tree's last commit, which
# every checkout has, so the package does not depend on who builds it (a user without a git
# identity would otherwise give a made-up address, which lintian refuses).
name=${DEBFULLNAME:-$(git log -1 --format=%an 2>/dev/null || true)}
email=${DEBEMAIL:-$(git log -1 --format=%ae 2>/dev/null || true)}
if [ -z "$name" ] || [ -z "$email" ]; then
    echo "package.sh: no maintainer: set DEBFULLNAME and DEBEMAIL outside a git checkout" >&2
    exit 2
fi
# The date of the last commit, so that one tree gives one package.
date=$(date -R -d "@$(git log -1 --format=%ct 2>/dev/null || date +%s)")

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
root=$work/root
umask 022
DESTDIR=$root cmake --install "$build" --prefix /usr --strip >/dev/null
strip --remove-section=.comment --remove-section=.note "$root"/usr/bin/*
chmod 0755 "$root"

# Debian's places: the documentation under the package's name, compressed as dh_compress
# would, the licence in the copyright file alone, the manual pages gzipped.
doc=$root/usr/share/doc/vorn
mv "$root/usr/share/doc/Vorn" "$doc"
rm "$doc/LICENSE"
gzip -9n "$doc/README.md" "$root"/usr/share/man/man1/*.1
{
    echo "Format: https://www.debian.org/doc/packaging-manuals/copyright-format/1.0/"
    echo "Upstream-Name: Vorn"
    echo
    echo "Files: *"
    sed -n 's/^Copyright (c) /Copyright: /p' LICENSE
    echo "License: Expat"
    echo
    echo "License: Expat"
    # The licence text after its copyright line, each empty line as " .".
    sed -n '/^Copyright/,$p' LICENSE | tail -n +2 | sed -e '1{/^$/d}' -e 's/^$/./' -e 's/^/ /'
} >"$doc/copyright"

mkdir -p "$work/debian" "$root/DEBIAN"
cat >"$work/debian/changelog" <<CHANGELOG
vorn ($version) unstable; urgency=medium

  * Vorn $version, packaged from its tree.

 -- $name <$email>  $date
CHANGELOG
gzip -9n <"$work/debian/changelog" >"$doc/changelog.gz"

# ICU is loaded when first needed, so the binaries do not name it: its package comes from the
# library names they load.
icu=$(grep -aoh 'libicui18n\.so\.[0-9]*' "$root/usr/bin/vorn" "$root/usr/bin/vorn-check" | sort -u)
icuPackages=$(for soname in $icu; do
    dpkg -S "*/$soname" | cut -d: -f1
done | sort -u | paste -sd, -)

cat >"$work/debian/control" <<CONTROL
Source: vorn
Section: graphics
Priority: optional
Maintainer: $name <$email>

Package: vorn
Architecture: any
Depends: \${shlibs:Depends}${icuPackages:+, $icuPackages}
Description: find damaged JPEG files
 Vorn lists JPEG files, checks them all in one run and lets you walk from one
 damaged file to the next. A file is sound when it starts with the JPEG start
 marker and ends with the end marker; vorn-check makes the same check from the
 command line, and with --deep also decodes the picture.
CONTROL
(
    cd "$work"
    dpkg-shlibdeps -O -e root/usr/bin/vorn -e root/usr/bin/vorn-check >debian/substvars 2>/dev/null
    dpkg-gencontrol -pvorn -Proot -v"$version" -Tdebian/substvars 2>/dev/null
)
(cd "$root" && find usr -type f -print0 | sort -z | xargs -0 md5sum >DEBIAN/md5sums)
chmod 0644 "$root/DEBIAN/control" "$root/DEBIAN/md5sums"

package=$output/vorn_${version}_$arch.deb
dpkg-deb --root-owner-group -Zxz --build "$root" "$package" >/dev/null
echo "$package ($(du -k "$package" | cut -f1) KiB)"
