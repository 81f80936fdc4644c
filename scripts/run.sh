#!/usr/bin/env bash
# Sets up, builds and starts Vorn; every argument is passed on (paths and -a).
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh
cmake --preset release >/dev/null
cmake --build --preset release --target vorn
exec build/release/app/vorn "$@"
