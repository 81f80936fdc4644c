#!/usr/bin/env bash
# Sets up, builds and runs every test (the same command CI runs).
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh
scripts/check-format.sh
cmake --preset dev
cmake --build --preset dev
ctest --preset dev
