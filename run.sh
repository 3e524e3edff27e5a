#!/usr/bin/env bash
# Installs what is missing, builds (Release) and starts yuragimaru.
# ./run.sh [FILE]      open with FILE as the target
# ./run.sh --demo      a saved site with cut-off pictures and a server for it
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
"$here/scripts/install-deps" build
cmake -S "$here" -B "$here/build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DYURAGI_TESTS=OFF >/dev/null
cmake --build "$here/build" --target yuragimaru yuragimaru-scan yuragimaru-demo-server >/dev/null
if [ "${1:-}" = "--demo" ]; then
  shift
  exec "$here/scripts/demo" "$@"
fi
exec "$here/build/yuragimaru" "$@"
