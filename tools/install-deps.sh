#!/usr/bin/env bash
# Installs the Debian 12 packages the build needs, only those that are missing.
# Arguments name extra packages (the test command adds the MinGW-w64 compiler).
set -euo pipefail

packages=(build-essential cmake pkg-config libopencv-dev libdnnl-dev libgtest-dev python3 valgrind "$@")
missing=()
for package in "${packages[@]}"; do
    dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "install ok installed" || missing+=("$package")
done
[ ${#missing[@]} -eq 0 ] && exit 0

echo "Installing: ${missing[*]}"
sudo=""
[ "$(id -u)" -eq 0 ] || sudo="sudo"
$sudo apt-get update -qq
DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
