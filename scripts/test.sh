#!/usr/bin/env bash
# Installs what is missing, builds, and runs every test. Ends with ctest's summary.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh
export QT_QPA_PLATFORM=offscreen
cd "${BUILD_DIR:-build}"
ctest -j2 --output-on-failure --timeout 300
