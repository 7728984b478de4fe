#!/usr/bin/env bash
# The whole suite from a fresh clone: installs packages, builds, and runs the tests three ways
# (normal, AddressSanitizer with UBSan, ThreadSanitizer on the threaded tests).
set -uo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh || exit 1

jobs=$(nproc)
export CTEST_OUTPUT_ON_FAILURE=1
export ASAN_OPTIONS=detect_leaks=1:abort_on_error=1
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
export TSAN_OPTIONS="halt_on_error=1:second_deadlock_stack=1:suppressions=$PWD/tests/tsan.supp"
summary=$(mktemp)
status=0

# run NAME TARGET CTEST-ARGS... -- CMAKE-ARGS...
run() {
    local name=$1 target=$2; shift 2
    local ctestArgs=() cmakeArgs=()
    while [ $# -gt 0 ] && [ "$1" != "--" ]; do ctestArgs+=("$1"); shift; done
    [ $# -gt 0 ] && shift
    cmakeArgs=("$@")
    echo "=== $name: configure and build"
    if ! cmake -S . -B "build/$name" -G Ninja -Wno-dev "${cmakeArgs[@]}" >"build/$name.configure.log" 2>&1; then
        cat "build/$name.configure.log"; echo "$name: configure FAILED" >>"$summary"; status=1; return
    fi
    if ! cmake --build "build/$name" --target "$target" -j "$jobs"; then
        echo "$name: build FAILED" >>"$summary"; status=1; return
    fi
    echo "=== $name: tests"
    local out="build/$name.ctest.log"
    ctest --test-dir "build/$name" -j "$jobs" --timeout 600 "${ctestArgs[@]}" 2>&1 | tee "$out"
    [ "${PIPESTATUS[0]}" -eq 0 ] || status=1
    { echo "--- $name"; sed -n '/tests passed/,$p' "$out"; } >>"$summary"
}

mkdir -p build
# The Debian package (a Release build of the programs alone); the normal run's "package" test checks it.
echo "=== package: build"
if ! bash scripts/package.sh; then
    echo "package: build FAILED" >>"$summary"; status=1
fi
run normal all -- -DCMAKE_BUILD_TYPE=RelWithDebInfo
run asan all -- -DCMAKE_BUILD_TYPE=Debug -DKOVA_SANITIZE=address -DKOVA_BUILD_BENCH=OFF
run tsan kova_threaded_tests -L threaded -- -DCMAKE_BUILD_TYPE=Debug -DKOVA_SANITIZE=thread -DKOVA_BUILD_BENCH=OFF

echo
echo "=== Summary (normal, asan, tsan)"
cat "$summary"
rm -f "$summary"
exit $status
