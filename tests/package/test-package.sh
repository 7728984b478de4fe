#!/usr/bin/env bash
# The Debian package as a user gets it: lintian finds no error in it and its menu entry is valid; unpacked
# into a temporary root, its programs run from there (each one's --help, and the demo, whose page comes
# from the unpacked share folder and whose list loads over /api/call and is removed with everything else at
# its end); and `cmake --install` lays out the same tree. Exits 77 (skipped) when no package was built.
#   bash tests/package/test-package.sh PACKAGE-BUILD-FOLDER
set -uo pipefail
build=$(cd "${1:?usage: test-package.sh PACKAGE-BUILD-FOLDER}" 2>/dev/null && pwd) || build=$1
source=$(cd "$(dirname "$0")/../.." && pwd)

work=$(mktemp -d "${TMPDIR:-/tmp}/kova-package-test.XXXXXX")
demo=""
cleanUp() {
    [ -n "$demo" ] && kill -TERM "$demo" 2>/dev/null && wait "$demo" 2>/dev/null
    rm -rf "$work"
}
trap cleanUp EXIT
fail() {
    echo "FAIL: $*" >&2
    exit 1
}

# scripts/package.sh in a fresh copy of the tracked files, where no build folder exists yet. cmake and cpack
# are stand-ins that do what the script relies on (the build folder, the package's file): the real build is
# the one scripts/test.sh runs before this test.
clone=$work/clone
mkdir -p "$clone" "$work/stubs"
(cd "$source" && git ls-files -z | tar --null -T - -cf -) | tar -xf - -C "$clone" || fail "copying the tree"
cat >"$work/stubs/cmake" <<'STUB'
#!/usr/bin/env bash
if [ "$1" = --build ]; then [ -f "$2/CMakeCache.txt" ]; exit; fi
while [ $# -gt 0 ]; do [ "$1" = -B ] && mkdir -p "$2" && : >"$2/CMakeCache.txt"; shift; done
STUB
printf '#!/bin/sh\n: >kova-gadget_0.0.0_amd64.deb\n' >"$work/stubs/cpack"
chmod +x "$work/stubs/cmake" "$work/stubs/cpack"
[ ! -e "$clone/build" ] || fail "the copy has a build folder"
printed=$(PATH=$work/stubs:$PATH bash "$clone/scripts/package.sh" 2>&1) ||
    fail "scripts/package.sh fails on a fresh clone: $printed"
[ "$(echo "$printed" | tail -n 1)" = "$clone/build/package/kova-gadget_0.0.0_amd64.deb" ] ||
    fail "scripts/package.sh on a fresh clone printed: $printed"
echo "package: scripts/package.sh runs on a fresh clone"

deb=$(ls "$build"/kova-gadget_*_amd64.deb 2>/dev/null | head -n 1)
if [ -z "$deb" ]; then
    echo "no package in $build: scripts/package.sh builds it"
    exit 77
fi
echo "package: $deb"

# Debian's checks: any lintian error fails, warnings are shown.
lintian --fail-on error --display-info "$deb" >"$work/lintian.txt" 2>&1
lintianStatus=$?
cat "$work/lintian.txt"
[ $lintianStatus -eq 0 ] || fail "lintian found errors"

root=$work/root
dpkg-deb -x "$deb" "$root" || fail "dpkg-deb -x"
desktop-file-validate "$root/usr/share/applications/kova-gadget.desktop" || fail "desktop-file-validate"
for file in usr/bin/kova-gadget usr/bin/kova-dat usr/bin/kova-sandbox usr/share/kova-gadget/index.html \
    usr/share/kova-gadget/KovaDat.dat usr/share/icons/hicolor/scalable/apps/kova-gadget.svg \
    usr/share/icons/hicolor/48x48/apps/kova-gadget.png usr/share/icons/hicolor/128x128/apps/kova-gadget.png \
    usr/share/man/man1/kova-gadget.1.gz usr/share/doc/kova-gadget/copyright; do
    [ -f "$root/$file" ] || fail "the package lacks /$file"
done
dpkg-deb -f "$deb" Depends | grep -q 'libcurl4' || fail "Depends does not name libcurl4: $(dpkg-deb -f "$deb" Depends)"
for size in 48 128; do
    file "$root/usr/share/icons/hicolor/${size}x${size}/apps/kova-gadget.png" | grep -q "$size x $size" ||
        fail "the ${size} px icon is not ${size} px"
done
zcat "$root/usr/share/man/man1/kova-gadget.1.gz" | grep -qF '\-\-demo' || fail "the manual page lacks --demo"

# cmake --install lays out the tree the package holds (before the programs of that tree ran).
if [ -f "$build/cmake_install.cmake" ]; then
    cmake --install "$build" --prefix "$work/installed" >/dev/null || fail "cmake --install"
    diff <(cd "$root/usr" && find . -type f | sort) <(cd "$work/installed" && find . -type f | sort) ||
        fail "cmake --install lays out another tree than the package"
fi

# Every program of the unpacked tree answers --help from there.
bin=$root/usr/bin
"$bin/kova-gadget" --help | grep -q -- '--demo' || fail "kova-gadget --help does not name --demo"
"$bin/kova-dat" --help | grep -q 'kova-dat pack' || fail "kova-dat --help"
"$bin/kova-sandbox" --help | grep -q -- '--state-dir' || fail "kova-sandbox --help"

# The demo from the unpacked tree, in a home of its own.
export HOME=$work/home TMPDIR=$work/tmp XDG_DATA_HOME=$work/home/data XDG_STATE_HOME=$work/home/state \
    XDG_CONFIG_HOME=$work/home/config
unset XDG_RUNTIME_DIR KOVA_EXTRA_CA_FILE
mkdir -p "$HOME" "$TMPDIR"
"$bin/kova-gadget" --demo --items 12 --browser none --port 0 >"$work/demo.out" 2>"$work/demo.err" &
demo=$!
line=""
for _ in $(seq 1 300); do
    line=$(head -n 1 "$work/demo.out" 2>/dev/null)
    [ -n "$line" ] && break
    kill -0 "$demo" 2>/dev/null || break
    sleep 0.1
done
[[ "$line" =~ ^KovaGadget:\ (http://127\.0\.0\.1:[0-9]+)/#([A-Za-z0-9_-]+)$ ]] ||
    fail "the demo printed \"$line\"; its errors: $(cat "$work/demo.err")"
origin=${BASH_REMATCH[1]}
secret=${BASH_REMATCH[2]}
grep -q 'demo: sandbox https://127.0.0.1:' "$work/demo.err" || fail "the demo did not name its sandbox"

curl --noproxy "*" -sSf "$origin/" -o "$work/index.html" || fail "GET /"
cmp -s "$work/index.html" "$root/usr/share/kova-gadget/index.html" || fail "the page is not the unpacked one"
call() {
    curl --noproxy "*" -sS -H "X-Kova-Secret: $secret" -H 'Content-Type: application/json' -d "$1" "$origin/api/call"
}
[ "$(call '{"member":"Init","kind":"method","args":[""]}')" = '{"result":null}' ] || fail "Init"
call '{"member":"LoadWatchlist","kind":"method"}' >/dev/null || fail "LoadWatchlist"
working=""
for _ in $(seq 1 300); do
    working=$(call '{"member":"IsWorking","kind":"get"}')
    [ "$working" = '{"result":false}' ] && break
    sleep 0.1
done
[ "$working" = '{"result":false}' ] || fail "the load did not end: $working"
curl --noproxy "*" -sSf -H "X-Kova-Secret: $secret" "$origin/result.txt" -o "$work/result.txt" || fail "GET /result.txt"
items=$(grep -o 'onOpenDetails(' "$work/result.txt" | wc -l)
[ "$items" -ge 1 ] || fail "the demo list shows no item: $(head -c 600 "$work/result.txt")"
echo "demo: the list shows $items items"

kill -TERM "$demo"
wait "$demo"
status=$?
demo=""
[ $status -eq 0 ] || fail "the demo ended with $status: $(cat "$work/demo.err")"
grep -q 'demo: stopped' "$work/demo.err" || fail "the demo did not say it stopped"
left=$(ls -d "$TMPDIR"/kova-demo.* 2>/dev/null)
[ -z "$left" ] || fail "the demo left $left behind"
pgrep -f "$TMPDIR" >/dev/null && fail "the demo's sandbox still runs"

echo "package: all checks passed"
