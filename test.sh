#!/usr/bin/env bash
# Installs what is missing, builds and runs every test.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
"$here/scripts/install-deps" test
cmake -S "$here" -B "$here/build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DYURAGI_TESTS=ON -DYURAGI_WERROR=ON
cmake --build "$here/build"
export QT_QPA_PLATFORM=offscreen
cd "$here/build"
ctest --output-on-failure -j2 --timeout 300
