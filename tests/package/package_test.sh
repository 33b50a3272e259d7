#!/usr/bin/env bash
# Builds the Debian package of a build tree, lists its contents and checks that every file
# an agent, a caller or a user needs is in it, at the path where it is looked for, and that
# lintian finds nothing in it but the install path the agent requires.
# Usage: package_test.sh BUILD_DIR LIBRARY_DIR INCLUDE_DIR PKGCONFIG_DIR BIN_DIR
set -euo pipefail
build=$1 libdir=$2 includedir=$3 pkgconfigdir=$4 bindir=$5
sharedir=$(dirname "$bindir")/share
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

(cd "$build" && cpack -G DEB -B "$work" >"$work/cpack.log" 2>&1) || { cat "$work/cpack.log"; exit 1; }
deb=$(ls "$work"/*.deb)
dpkg-deb -c "$deb" | awk '{ print $NF }' | sed 's|^\./|/|' >"$work/contents"

status=0
for file in "$libdir/Qarvel.so" "$libdir/wdstop" "$libdir/Qarvel-sim.so" "$libdir/qarvel-capture" \
            "$includedir/Qarvel.h" "$includedir/types.h" "$pkgconfigdir/qarvel.pc" "$bindir/qarvel" \
            "$bindir/qarvel-exporter" "$sharedir/man/man1/qarvel.1.gz" "$sharedir/man/man1/qarvel-exporter.1.gz" \
            "$sharedir/man/man8/wdstop.8.gz" "$sharedir/doc/qarvel/copyright" "$sharedir/doc/qarvel/changelog.gz"; do
    grep -qxF "$file" "$work/contents" || { echo "missing from the package: $file"; status=1; }
done

# Every file the package lists is really in it, with content, and the pkg-config file names
# the directories the package fills.
mkdir "$work/root"
dpkg-deb -x "$deb" "$work/root"
while read -r path; do
    case "$path" in */) continue ;; esac
    [ -e "$work/root$path" ] || { echo "listed but not extracted: $path"; status=1; }
done <"$work/contents"
for file in "$libdir/Qarvel.so" "$libdir/wdstop" "$bindir/qarvel"; do
    [ -s "$work/root$file" ] || { echo "empty: $file"; status=1; }
done
pc="$work/root$pkgconfigdir/qarvel.pc"
if [ -f "$pc" ]; then
    prefix=$(sed -n 's/^prefix=//p' "$pc")
    inc=$(sed -n 's/^includedir=//p' "$pc")
    inc=${inc//\$\{prefix\}/$prefix}
    [ -f "$work/root$inc/Qarvel.h" ] || { echo "qarvel.pc: its includedir $inc holds no Qarvel.h"; status=1; }
    grep -qx "libdir=$libdir" "$pc" || { echo "qarvel.pc: libdir is not $libdir"; status=1; }
fi
# The exporter's unit starts the installed exporter, and systemd finds it where it looks.
prefix=$(dirname "$bindir")
unit=""
for candidate in "$work/root/lib/systemd/system/qarvel-exporter.service" \
                 "$work/root$prefix/lib/systemd/system/qarvel-exporter.service"; do
    [ -f "$candidate" ] && unit=$candidate
done
if [ -z "$unit" ]; then
    echo "missing from the package: the qarvel-exporter.service unit"; status=1
else
    exec_start=$(sed -n 's/^ExecStart=\([^ ]*\).*/\1/p' "$unit")
    [ -n "$exec_start" ] && [ -x "$work/root$exec_start" ] || {
        echo "the unit starts '$exec_start', which the package does not hold"; status=1; }
fi

# lintian reports nothing but the install path the agent requires, which the package
# overrides, on a package for /usr (tools/package); a tree for another prefix (/usr/local, a
# developer's build) places the documentation where no Debian package may, and is not linted.
if [ "$prefix" = /usr ]; then
    if command -v lintian >/dev/null 2>&1; then
        lintian --fail-on error,warning "$deb" >"$work/lintian.log" 2>&1 || {
            echo "lintian:"; cat "$work/lintian.log"; status=1; }
    else
        echo "lintian is not installed (tools/setup installs it)"; status=1
    fi
fi
dpkg-deb -f "$deb" Architecture
exit $status
