#!/usr/bin/env bash
# Runs the gadget on the built-in demo: a local sandbox stands in for eBay with a demo account, a demo
# gadget directory points at it, and kova-gadget serves the page and opens it in the browser.
#   bash scripts/demo.sh [--first-run] [--no-browser] [--port N] [--items N]
# --first-run starts without saved login data, so the page shows the login data dialog and the wizard.
# Ctrl-C stops everything and removes the demo's temporary folder.
set -euo pipefail
cd "$(dirname "$0")/.."

firstRun=0
items=40
gadgetArgs=()
while [ $# -gt 0 ]; do
    case "$1" in
    --first-run) firstRun=1 ;;
    --no-browser) gadgetArgs+=(--no-browser) ;;
    --port) gadgetArgs+=(--port "${2:?--port needs a value}"); shift ;;
    --items) items="${2:?--items needs a value}"; shift ;;
    -h | --help) sed -n '2,6p' "$0" | sed 's/^# \{0,1\}//'; exit 0 ;;
    *) echo "demo: unknown option $1 (try --help)" >&2; exit 2 ;;
    esac
    shift
done

bash scripts/setup.sh
build=build/normal
if [ ! -f "$build/build.ninja" ]; then
    cmake -S . -B "$build" -G Ninja -Wno-dev -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
fi
cmake --build "$build" --target kova-gadget kova-sandbox kova-dat kova-login kova-gadget-page kova-gadget-dat
bin=$PWD/$build/bin

demo=$(mktemp -d "${TMPDIR:-/tmp}/kova-demo.XXXXXX")
pids=()
stopAll() {
    trap - INT TERM EXIT
    # The gadget first, so that its Terminate still finds the sandbox; then the sandbox.
    for ((i = ${#pids[@]} - 1; i >= 0; i--)); do
        kill -TERM "${pids[i]}" 2>/dev/null || true
        wait "${pids[i]}" 2>/dev/null || true
    done
    rm -rf "$demo"
    echo "demo: stopped"
}
trap stopAll EXIT
trap 'exit 130' INT
trap 'exit 143' TERM

# Starts a program in the background and puts the first line it prints into FIRSTLINE.
startAndRead() {
    local file=$1; shift
    : >"$file"
    "$@" >"$file" 2>"$file.err" &
    pids+=($!)
    for _ in $(seq 1 200); do
        [ "$(wc -l <"$file")" -ge 1 ] && { FIRSTLINE=$(head -n 1 "$file"); return 0; }
        kill -0 "${pids[-1]}" 2>/dev/null || break
        sleep 0.1
    done
    echo "demo: this did not start: $*" >&2
    cat "$file.err" >&2
    return 1
}

mkdir -p "$demo/sandbox" "$demo/gadget"
startAndRead "$demo/sandbox.out" "$bin/kova-sandbox" --state-dir "$demo/sandbox" --port 0 --account "demo:$items"
sandbox=$FIRSTLINE
ca=$demo/sandbox/ca.pem

# The demo's application data: the sandbox's keys, its Trading API and its sign-in page.
cp -R "$build/gadget/." "$demo/gadget/"
rm -f "$demo/gadget/KovaDat.dat"
sed -e "s|<LINKFETCHTOKENSIGNIN>.*</LINKFETCHTOKENSIGNIN>|<LINKFETCHTOKENSIGNIN>$sandbox/signin?runame=MYRUNAME\&amp;SessID=USERSID</LINKFETCHTOKENSIGNIN>|" \
    -e "s|<APIServerProduction>.*</APIServerProduction>|<APIServerProduction>$sandbox/ws/api.dll</APIServerProduction>|" \
    -e "s|<APIDevID></APIDevID>|<APIDevID>KovaSandboxDev</APIDevID>|" \
    -e "s|<APIAppID></APIAppID>|<APIAppID>KovaSandboxApp</APIAppID>|" \
    -e "s|<APICertID></APICertID>|<APICertID>KovaSandboxCert</APICertID>|" \
    gadget/KovaDat.xml >"$demo/KovaDat.xml"
"$bin/kova-dat" pack "$demo/KovaDat.xml" "$demo/gadget/KovaDat.dat"

if [ $firstRun -eq 0 ]; then
    answer=$(curl -sS --cacert "$ca" -H 'Content-Type: application/json' -d '{"username":"demo"}' \
        "$sandbox/sandbox/token")
    token=$(printf '%s' "$answer" | sed -n 's/.*"token"[[:space:]]*:[[:space:]]*"\([^"]*\)".*/\1/p')
    [ -n "$token" ] || { echo "demo: the sandbox gave no token: $answer" >&2; exit 1; }
    printf 'demo-password\n%s\n' "$token" |
        "$bin/kova-login" --gadget-dir "$demo/gadget" --user demo --password - --token -
fi

echo "demo: sandbox $sandbox with the account \"demo\" ($items watched items)"
# The items' pictures come from the sandbox, under a certificate the browser does not know yet.
echo "demo: the items' pictures come from the sandbox: while the list shows the grey placeholder instead,"
echo "      open $sandbox/ once, accept the sandbox's certificate there and refresh the list."
if [ $firstRun -eq 1 ]; then
    echo "demo: first run: enter the user name \"demo\" and any password, then follow the wizard; on the"
    echo "      sandbox's sign-in page (its certificate is the sandbox's own: accept it) sign in as \"demo\"."
fi
startAndRead "$demo/gadget.out" env KOVA_EXTRA_CA_FILE="$ca" "$bin/kova-gadget" --gadget-dir "$demo/gadget" \
    "${gadgetArgs[@]}"
echo "$FIRSTLINE"
echo "demo: open the address above if no browser came up; Ctrl-C stops the demo."
wait "${pids[-1]}" || true
