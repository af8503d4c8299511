#!/usr/bin/env bash
# Renders the demo panel, connected to its simulated module, to docs/panel.png.
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/install-deps.sh
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
find build -path '*_autogen/timestamp' -delete 2>/dev/null || true
cmake --build build --parallel 2 --target quadrel-panel
mkdir -p docs
QT_QPA_PLATFORM=offscreen build/app/quadrel-panel --demo --connect --screenshot docs/panel.png --after 4000
echo "docs/panel.png"
