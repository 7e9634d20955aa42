#!/usr/bin/env bash
# cmake --install puts the programs and the framebuffer console's mode entry in place:
#   install_check.sh BUILD_DIR FB_MODES
set -u
build=$1
fb_modes=$2
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
fail() { echo "FAIL: $*" >&2; exit 1; }

cmake --install "$build" --prefix "$work/prefix" > "$work/log" 2>&1 || { cat "$work/log" >&2; fail "cmake --install"; }
for program in ringwave ringwave-snapshot; do
    [ -x "$work/prefix/bin/$program" ] || fail "bin/$program not installed"
done
cmp "$fb_modes" "$work/prefix/share/ringwave/fb.modes" || fail "share/ringwave/fb.modes"
echo "ok: installed"
