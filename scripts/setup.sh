#!/usr/bin/env bash
# Installs what the build, the tests and the demo need on Debian 12, then
# configures and builds into build/. Safe to run again: installs only what is missing.
set -euo pipefail
cd "$(dirname "$0")/.."

packages=(
  build-essential cmake ninja-build pkg-config git
  qt6-base-dev libgl-dev libqt6sql6-sqlite openssl
  libgrpc++-dev protobuf-compiler-grpc libprotobuf-dev protobuf-compiler
  libsqlite3-dev sqlite3 libpq-dev postgresql libsystemd-dev libmicrohttpd-dev
  prometheus curl
  libgtest-dev libgmock-dev libbenchmark-dev
  lintian libxcb1-dev fonts-wqy-zenhei fonts-wqy-microhei fonts-arphic-ukai fonts-arphic-uming xvfb xauth xdotool x11-utils openbox
)
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  echo "setup: installing ${missing[*]}"
  if [ "$(id -u)" -ne 0 ]; then SUDO=sudo; else SUDO=; fi
  # Some packages bring a service (prometheus, installed for its promtool): none of
  # them is started here.
  if [ ! -e /usr/sbin/policy-rc.d ]; then
    printf '#!/bin/sh\nexit 101\n' | $SUDO tee /usr/sbin/policy-rc.d >/dev/null
    $SUDO chmod 755 /usr/sbin/policy-rc.d
    trap '$SUDO rm -f /usr/sbin/policy-rc.d' EXIT
  fi
  $SUDO apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
fi

BUILD_DIR=${BUILD_DIR:-build}
if [ ! -f "$BUILD_DIR/build.ninja" ]; then
  cmake -S . -B "$BUILD_DIR" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo ${CMAKE_ARGS:-}
fi
cmake --build "$BUILD_DIR" -j"$(nproc)"
