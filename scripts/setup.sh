#!/usr/bin/env bash
# Installs every Debian package that building, running and testing KovaGadget needs, and the browser tests'
# npm packages (e2e/, pinned by its lock file). Safe to run again. With --debian-only (the package's build)
# the npm packages are left alone.
set -euo pipefail
cd "$(dirname "$0")/.."

packages=(
    build-essential cmake ninja-build pkg-config clang-format
    libcurl4-openssl-dev libssl-dev zlib1g-dev libcpp-httplib-dev nlohmann-json3-dev uuid-dev
    libgtest-dev libgmock-dev libbenchmark-dev
    tinyproxy openssl ca-certificates tzdata curl libsystemd-dev dbus graphviz
    librsvg2-bin chromium fonts-liberation2
    dpkg-dev file lintian desktop-file-utils python3
)
# A machine may bring its own Node.js with npm inside (it conflicts with Debian's npm package): ask Debian
# only for the commands that are missing.
command -v node >/dev/null || packages+=(nodejs)
command -v npm >/dev/null || packages+=(npm)

missing=()
for p in "${packages[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
    sudo=()
    [ "$(id -u)" -eq 0 ] || sudo=(sudo)
    echo "setup: installing ${missing[*]}"
    export DEBIAN_FRONTEND=noninteractive
    "${sudo[@]}" apt-get update -qq
    "${sudo[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi

[ "${1:-}" = --debian-only ] && exit 0

# playwright-core drives Debian's Chromium: it downloads no browser of its own.
stamp=e2e/node_modules/.kova-lock
if ! cmp -s e2e/package-lock.json "$stamp" 2>/dev/null; then
    echo "setup: installing the browser tests' npm packages"
    (cd e2e && PLAYWRIGHT_SKIP_BROWSER_DOWNLOAD=1 npm ci --no-audit --no-fund --loglevel=error)
    cp e2e/package-lock.json "$stamp"
fi
