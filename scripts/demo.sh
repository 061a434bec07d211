#!/usr/bin/env bash
# Installs what is missing, builds, and runs the dewarper on the built-in synthetic
# room, writing every view and a contact sheet per mount under zrfisheye-demo/.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
cd "$root"
bash scripts/deps.sh
bash scripts/build.sh build
./build/tools/zrfisheye demo --out zrfisheye-demo "$@"
