#!/usr/bin/env bash
# Builds ringwave in Release and runs it with the words given (-fullscreen, -hw, -flip).
# With no display and no framebuffer it runs under SDL's dummy video driver: stop it with
# Ctrl-C to see the frame rate.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
"$root/scripts/deps.sh" build
cmake -S "$root" -B "$root/build/release" -DCMAKE_BUILD_TYPE=Release \
      -DRINGWAVE_BUILD_TESTS=OFF > /dev/null
cmake --build "$root/build/release" --target ringwave -j "$(nproc)" > /dev/null

if [ -z "${SDL_VIDEODRIVER:-}" ] && [ -z "${DISPLAY:-}" ] && [ ! -e /dev/fb0 ]; then
    echo "ringwave: no display found; using SDL's dummy video driver (Ctrl-C stops it)" >&2
    export SDL_VIDEODRIVER=dummy
fi
exec "$root/build/release/ringwave" "$@"
