#!/usr/bin/env bash
# Installs what is missing, builds, seeds the embedded demo database when it does
# not exist, and opens the quota-adjustment window as the demo operator.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh
BUILD_DIR=${BUILD_DIR:-build}
if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ] && [ "${QT_QPA_PLATFORM:-}" != offscreen ]; then
  echo "demo: no display; run it under a virtual one: xvfb-run -a bash scripts/demo.sh"
  exit 1
fi
exec "$BUILD_DIR/host/mis-host" --seed-demo --plugin "$BUILD_DIR/plugin/libqadj_vsd.so" "${QADJ_DEMO_OPERATOR:-0001}" "${QADJ_SERVER_HOST:-}"
