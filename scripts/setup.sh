#!/usr/bin/env bash
# Installs what building, the tests, the demo (run.sh), screenshots.sh and the benchmarks
# need, with apt-get, when it is missing: g++, libcurl4-openssl-dev and libssl-dev build the native
# korvel-publish, busybox's httpd serves the publish benchmark, osslsigncode Authenticode-signs
# the demo's programs (scripts/sign_exe.sh); nginx, zsync, casync and rsync are the delta
# benchmark's server and the tools it compares with. wine64 only recommends
# wine (the wine, wineboot and winepath commands) and libwine only recommends fonts-wine
# (Tahoma, the window's second choice of face): both are named, so that a no-recommends
# install has them too.
set -euo pipefail

packages=(cmake make g++ libcurl4-openssl-dev libssl-dev g++-mingw-w64-x86-64-posix mingw-w64-tools wine wine64 xvfb
          googletest python3 python3-cryptography openssl curl busybox imagemagick time
          fonts-dejavu-core fonts-liberation fonts-wine procps bc x11-utils osslsigncode
          nginx zsync casync rsync)

missing=()
for p in "${packages[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
    echo "Installing: ${missing[*]}"
    export DEBIAN_FRONTEND=noninteractive
    sudo_cmd=""
    [ "$(id -u)" -eq 0 ] || sudo_cmd="sudo"
    $sudo_cmd apt-get update -q
    $sudo_cmd apt-get install -y -q "${missing[@]}"
fi
