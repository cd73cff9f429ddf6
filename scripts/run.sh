#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Installs what is missing, builds the window alone (not the tests and
# tools), and opens it.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DZN7QX_BUILD_GUI=ON -DZN7QX_BUILD_TESTS=OFF >/dev/null
cmake --build build --target zn7qx-finder
exec build/app/zn7qx-finder/zn7qx-finder "$@"
