#!/usr/bin/env bash
# Installs the build and test dependencies from Debian's archive; packages
# already present are skipped, so running it again costs nothing.
set -euo pipefail

packages=(libhdf5-mpich-dev mpich cmake g++ make pkg-config libgtest-dev libgmock-dev libbenchmark-dev
          nlohmann-json3-dev python3-matplotlib libtomlplusplus-dev dpkg-dev man-db groff-base bash-completion)

missing=()
for p in "${packages[@]}"; do
    if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
        missing+=("$p")
    fi
done

if [ ${#missing[@]} -eq 0 ]; then
    exit 0
fi

SUDO=""
if [ "$(id -u)" -ne 0 ]; then
    SUDO="sudo"
fi
echo "installing: ${missing[*]}"
$SUDO apt-get update -qq
DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}"
