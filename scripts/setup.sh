#!/usr/bin/env bash
# Installs every Debian package that building and testing KovaGadget needs. Safe to run again.
set -euo pipefail

packages=(
    build-essential cmake ninja-build pkg-config clang-format
    libcurl4-openssl-dev libssl-dev zlib1g-dev libpugixml-dev libcpp-httplib-dev nlohmann-json3-dev uuid-dev
    libgtest-dev libgmock-dev libbenchmark-dev
    tinyproxy openssl ca-certificates tzdata
)

missing=()
for p in "${packages[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0

sudo=()
[ "$(id -u)" -eq 0 ] || sudo=(sudo)
echo "setup: installing ${missing[*]}"
export DEBIAN_FRONTEND=noninteractive
"${sudo[@]}" apt-get update -qq
"${sudo[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}"
