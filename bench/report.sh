#!/usr/bin/env bash
# Builds the benchmarks in build/release (Release, ccache), runs them and prints the speed table: each
# row's median beside the median of the floor it is measured against, measured in the same run.
set -euo pipefail

usage() {
    cat <<'USAGE'
usage: bench/report.sh [--repetitions N] [--no-build] [--help]

Builds kova-sandbox and the benchmark programs BenchApiCalls, BenchItemFile and BenchWatchList in
build/release (CMAKE_BUILD_TYPE=Release, ccache), runs them and prints one line per row:

  work | now (median) | floor (median) | ratio | goal | met

  --repetitions N  repetitions of the benchmarks that do not fix their own (default 9)
  --no-build       run what build/release holds
  --help           this text

Each pair is measured in one run of one program, so that the ratio holds under the machine's load of
the moment; the raw results stay in build/release/bench-report/.
USAGE
}

repetitions=9
build=1
while [[ $# -gt 0 ]]; do
    case "$1" in
    --repetitions)
        [[ $# -ge 2 && "$2" =~ ^[1-9][0-9]*$ ]] || { echo "--repetitions needs a positive number" >&2; exit 2; }
        repetitions=$2
        shift 2
        ;;
    --no-build) build=0; shift ;;
    --help | -h) usage; exit 0 ;;
    *) echo "unknown argument: $1" >&2; usage >&2; exit 2 ;;
    esac
done

root=$(cd "$(dirname "$0")/.." && pwd)
out=$root/build/release
if [[ $build == 1 ]]; then
    cmake -S "$root" -B "$out" -G Ninja -Wno-dev -DCMAKE_BUILD_TYPE=Release \
        -DCMAKE_CXX_COMPILER_LAUNCHER=ccache -DKOVA_BUILD_TESTS=OFF >/dev/null
    cmake --build "$out" --target kova-sandbox BenchApiCalls BenchItemFile BenchWatchList -j2 >/dev/null
fi
results=$out/bench-report
mkdir -p "$results"

# glibc returns large blocks to the system, or keeps them, depending on what ran before, and a floor that
# allocates a fresh buffer per load then pays page faults in some runs and not in others (a page parse's
# floor was seen at 185 and at 330 µs). Fixed thresholds keep freed memory for both sides of every pair.
export GLIBC_TUNABLES=glibc.malloc.mmap_threshold=268435456:glibc.malloc.trim_threshold=536870912

run() {
    local program=$1 filter=$2
    echo "running $program ..." >&2
    "$out/bin/$program" --benchmark_filter="$filter" --benchmark_repetitions="$repetitions" \
        --benchmark_report_aggregates_only=true --benchmark_format=json >"$results/$program.json"
}
run BenchApiCalls 'BM_ParseWatchListPage|BM_PugixmlLoadPage|BM_GetMyeBayBuying400(/|$)|BM_CurlAlone400(/|$)'
run BenchItemFile 'BM_ItemFileLoad|BM_PugixmlLoad(/|$)|BM_ItemFileSave|BM_PugixmlSave'
run BenchWatchList 'BM_ControlLoad400|BM_RawPosts400(/|$)'

python3 - "$results" <<'PY'
import json, os, sys

folder = sys.argv[1]
scale = {"ns": 1e-6, "us": 1e-3, "ms": 1.0, "s": 1e3}
medians = {}
for name in ("BenchApiCalls", "BenchItemFile", "BenchWatchList"):
    with open(os.path.join(folder, name + ".json")) as f:
        for b in json.load(f)["benchmarks"]:
            if b.get("aggregate_name") == "median" and not b.get("error_occurred"):
                # "BM_X/iterations:15/repeats:3/real_time" is BM_X's median.
                medians.setdefault(b["run_name"].split("/")[0], b["real_time"] * scale[b["time_unit"]])

def shown(ms):
    return "%.2f ms" % ms if ms >= 1 else "%.0f µs" % (ms * 1000)

def need(name):
    if name not in medians:
        sys.exit("no median for %s (did it fail?)" % name)
    return medians[name]

# The sandbox is on this machine, so the calls do not ask it for gzip, and neither do the floors.
rows = [
    ("Parse one 100-item page", "BM_ParseWatchListPage", "BM_PugixmlLoadPage", 1.5),
    ('Load "watchlist.dat", 400 items', "BM_ItemFileLoad", "BM_PugixmlLoad", 2.0),
    ("Save it", "BM_ItemFileSave", "BM_PugixmlSave", 2.0),
    ("400 items in 4 pages, GetMyeBayBuying", "BM_GetMyeBayBuying400", "BM_CurlAlone400", 1.10),
    ("The same through the control", "BM_ControlLoad400", "BM_RawPosts400", 1.10),
]
print("| Work | Now | Floor | Ratio | Goal | Met |")
print("|---|---|---|---|---|---|")
for work, now, floor, goal in rows:
    n, f = need(now), need(floor)
    print("| %s (`%s`) | %s | `%s` %s | %.2f × | ≤ %.2f × | %s |"
          % (work, now, shown(n), floor, shown(f), n / f, goal, "yes" if n / f <= goal else "NO"))
if "BM_ControlLoad400Latency100" not in medians:
    sys.exit(0)
n, load = need("BM_ControlLoad400Latency100"), need("BM_ControlLoad400")
floor = 2.6 * 100 + load
print("| The control's load at 100 ms per answer (`BM_ControlLoad400Latency100`) | %s | 2.6 × 100 ms + "
      "`BM_ControlLoad400` = %s | %.2f × | ≤ 1.00 × | %s |"
      % (shown(n), shown(floor), n / floor, "yes" if n <= floor else "NO"))
PY
