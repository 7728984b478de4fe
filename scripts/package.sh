#!/usr/bin/env bash
# Builds the Debian package: a Release build of the programs and the page in build/package (no tests, no
# benchmarks), then CPack's DEB generator writes build/package/kova-gadget_VERSION_amd64.deb and this
# script prints its path. Install it with: apt install ./build/package/kova-gadget_*.deb
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh --debian-only

build=build/package
# A fresh clone has no build folder yet: the configure log below is written beside the build's own folder.
mkdir -p "$build"
launcher=()
if command -v ccache >/dev/null; then
    launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache -DCMAKE_C_COMPILER_LAUNCHER=ccache)
fi
# Hardened as Debian builds its packages: checked buffer functions, stack protection, read-only relocations.
cmake -S . -B "$build" -G Ninja -Wno-dev -DCMAKE_BUILD_TYPE=Release -DKOVA_BUILD_TESTS=OFF \
    -DKOVA_BUILD_BENCH=OFF "${launcher[@]}" \
    "-DCMAKE_CXX_FLAGS=-D_FORTIFY_SOURCE=2 -fstack-protector-strong" \
    "-DCMAKE_EXE_LINKER_FLAGS=-Wl,-z,relro,-z,now" >"$build.configure.log" 2>&1 || {
    cat "$build.configure.log"
    exit 1
}
cmake --build "$build" -j "$(nproc)"
rm -f "$build"/kova-gadget_*.deb
(cd "$build" && cpack -G DEB >cpack.log 2>&1) || {
    cat "$build/cpack.log"
    exit 1
}
ls "$PWD/$build"/kova-gadget_*_amd64.deb
