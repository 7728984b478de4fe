#!/usr/bin/env bash
# Long libFuzzer runs of every parser harness under AddressSanitizer and UBSan, one after the other, ending
# with a table of executions and coverage. ctest only replays the seeds; this is the slow, deep check.
set -euo pipefail

usage() {
    cat <<'EOF'
usage: fuzz/run.sh [--seconds N] [--only NAME]
       fuzz/run.sh --help

Builds build/fuzz with clang++ (libFuzzer, AddressSanitizer, UBSan), then runs each harness fuzz/Fuzz*.cpp
in turn for N seconds (default: $FUZZ_SECONDS, else 600), starting from a fresh copy of its seeds
fuzz/corpus/NAME in build/fuzz/corpus/NAME; the seeds in fuzz/corpus stay as they are.

  --seconds N   run each harness for N seconds
  --only NAME   run only this harness (FuzzIniFile or IniFile)
  --help        print this text

Logs: build/fuzz/logs/NAME.log. Reproducers: build/fuzz/artifacts/NAME/; replay one with
build/fuzz/bin/NAME FILE. Exits 0 when every run is clean, 1 when a run found a crash, leak, time-out or
memory blow-up (or the build failed), 2 on bad arguments.
Environment: FUZZ_SECONDS, FUZZ_BUILD_JOBS (parallel compile jobs, default 2), CXX (default clang++).
EOF
}

root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
build="$root/build/fuzz"
seconds="${FUZZ_SECONDS:-600}"
only=""

fail_usage() {
    echo "fuzz/run.sh: $1" >&2
    echo "Try fuzz/run.sh --help" >&2
    exit 2
}

while [[ $# -gt 0 ]]; do
    case "$1" in
    --help | -h)
        usage
        exit 0
        ;;
    --seconds)
        [[ $# -ge 2 ]] || fail_usage "--seconds needs a value"
        seconds="$2"
        shift 2
        ;;
    --only)
        [[ $# -ge 2 ]] || fail_usage "--only needs a harness name"
        only="$2"
        shift 2
        ;;
    *) fail_usage "unknown option $1" ;;
    esac
done
[[ "$seconds" =~ ^[0-9]+$ && "$seconds" -ge 1 ]] || fail_usage "the seconds must be a whole number of 1 or more, not \"$seconds\""

harnesses=()
for source in "$root"/fuzz/Fuzz*.cpp; do
    harnesses+=("$(basename "$source" .cpp)")
done
if [[ -n "$only" ]]; then
    [[ "$only" == Fuzz* ]] || only="Fuzz$only"
    [[ -f "$root/fuzz/$only.cpp" ]] || fail_usage "no harness $only (there are: ${harnesses[*]})"
    harnesses=("$only")
fi

launcher=()
if command -v ccache >/dev/null; then launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache); fi
echo "== Building ${harnesses[*]} in $build"
if ! cmake -S "$root" -B "$build" -G Ninja -Wno-dev -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DCMAKE_CXX_COMPILER="${CXX:-clang++}" -DKOVA_LIBFUZZER=ON -DKOVA_SANITIZE=address \
    -DKOVA_BUILD_TESTS=OFF -DKOVA_BUILD_BENCH=OFF "${launcher[@]}" >"$build.configure.log" 2>&1; then
    cat "$build.configure.log" >&2
    echo "fuzz/run.sh: configuring $build failed" >&2
    exit 1
fi
cmake --build "$build" --target "${harnesses[@]}" -j "${FUZZ_BUILD_JOBS:-2}" || {
    echo "fuzz/run.sh: the build failed" >&2
    exit 1
}

# Some harnesses write their input to a file and read it back; on tmpfs the file layer's fsync costs nothing,
# which makes those runs some thirty times faster.
scratch_base="${TMPDIR:-/tmp}"
if [[ -d /dev/shm && -w /dev/shm ]]; then scratch_base=/dev/shm; fi

mkdir -p "$build/logs" "$build/corpus" "$build/artifacts"
rows=()
reproducers=()
failed=0
for name in "${harnesses[@]}"; do
    corpus="$build/corpus/$name"
    artifacts="$build/artifacts/$name"
    log="$build/logs/$name.log"
    rm -rf "$corpus" "$artifacts"
    mkdir -p "$corpus" "$artifacts"
    if [[ -d "$root/fuzz/corpus/$name" ]]; then cp -R "$root/fuzz/corpus/$name/." "$corpus/"; fi
    scratch=$(mktemp -d "$scratch_base/kova-fuzz-$name-XXXXXX")
    echo "== $name: ${seconds}s from $(find "$corpus" -type f | wc -l) seeds, log $log"
    status=0
    # A parser that needs 30 seconds for one input hangs for the user too: -timeout makes that a finding.
    TMPDIR="$scratch" "$build/bin/$name" -max_total_time="$seconds" -print_final_stats=1 -timeout=30 \
        -artifact_prefix="$artifacts/" "$corpus" >"$log" 2>&1 || status=$?
    rm -rf "$scratch"

    execs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -n 1)
    speed=$(sed -n 's/^stat::average_exec_per_sec: *//p' "$log" | tail -n 1)
    cov=$(grep -oE ' cov: [0-9]+' "$log" | tail -n 1 | grep -oE '[0-9]+' || true)
    ft=$(grep -oE ' ft: [0-9]+' "$log" | tail -n 1 | grep -oE '[0-9]+' || true)
    # Slow units are written too but are no failure; the last other artifact is the reproducer.
    artifact=$(sed -n 's/.*Test unit written to //p' "$log" | grep -v '/slow-unit-' | tail -n 1 || true)
    if [[ $status -eq 0 && -z "$artifact" ]]; then
        result="clean"
    else
        failed=1
        if [[ -n "$artifact" ]]; then
            kind=$(basename "$artifact")
            result="${kind%%-*}"
            reproducers+=("$name: $result, reproducer $artifact (replay: $build/bin/$name $artifact)")
        else
            result="failed (exit $status)"
            reproducers+=("$name: exited with $status without a reproducer; see $log")
        fi
    fi
    rows+=("$(printf '| %-26s | %12s | %8s | %7s | %7s | %-8s |' "$name" "${execs:-?}" "${speed:-?}" \
        "${cov:-?}" "${ft:-?}" "$result")")
done

echo
echo "Fuzz runs of ${seconds}s each ($(date -u '+%Y-%m-%d %H:%M UTC'), $(git -C "$root" rev-parse --short HEAD 2>/dev/null || echo '?'))"
printf '| %-26s | %12s | %8s | %7s | %7s | %-8s |\n' harness executions exec/s cov ft result
printf '|%s|%s|%s|%s|%s|%s|\n' "----------------------------" "--------------" "----------" "---------" \
    "---------" "----------"
printf '%s\n' "${rows[@]}"
if [[ $failed -ne 0 ]]; then
    echo
    printf '%s\n' "${reproducers[@]}" >&2
    exit 1
fi
