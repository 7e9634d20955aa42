#!/usr/bin/env bash
# Builds ringwave in Release and runs it with the words given (-fullscreen, -hw, -flip).
# With no display and no framebuffer it runs under SDL's dummy video driver: stop it with
# Ctrl-C to see the frame rate.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
"$root/scripts/deps.sh" build
build="$root/build/release"
mkdir -p "$build"
# Quiet when all is well; the whole log when the build fails.
if ! { cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=Release -DRINGWAVE_BUILD_TESTS=OFF &&
       cmake --build "$build" -j "$(nproc)"; } > "$build/build.log" 2>&1; then
    cat "$build/build.log" >&2
    echo "ringwave: the build failed (log above)" >&2
    exit 1
fi

if [ -z "${SDL_VIDEODRIVER:-}" ] && [ -z "${DISPLAY:-}" ] && [ ! -e /dev/fb0 ]; then
    echo "ringwave: no display found; using SDL's dummy video driver (Ctrl-C stops it)" >&2
    export SDL_VIDEODRIVER=dummy
fi
exec "$build/ringwave" "$@"
