#!/usr/bin/env bash
# Runs the gadget on the built-in demo: builds the programs and the page, then `kova-gadget --demo` starts a
# private sandbox standing in for eBay with the account "demo", a temporary gadget directory pointing at it
# with the demo user signed in, and the host on it, which opens the page.
#   bash scripts/demo.sh [--first-run] [--oauth] [--items N] [--browser app|tab|none] [--no-browser] [--port N]
# --first-run starts without saved login data, so the page shows the login data dialog and the wizard.
# --oauth signs in with OAuth: the wizard opens the sandbox's consent page and takes the address it lands on.
# Ctrl-C stops everything and removes the demo's temporary folder.
set -euo pipefail
cd "$(dirname "$0")/.."
for argument in "$@"; do
    case "$argument" in
    -h | --help) sed -n '2,8p' "$0" | sed 's/^# \{0,1\}//'; exit 0 ;;
    esac
done

bash scripts/setup.sh
build=build/normal
if [ ! -f "$build/build.ninja" ]; then
    cmake -S . -B "$build" -G Ninja -Wno-dev -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
fi
cmake --build "$build" --target kova-gadget kova-sandbox kova-gadget-page kova-gadget-dat
exec "$build/bin/kova-gadget" --demo "$@"
