#!/usr/bin/env bash
# A qemu TCG plugin for the measurements, built against the plugin interface of the qemu that
# is installed (the interface is tied to qemu's release, so the header comes from Debian's
# source package of the same qemu), and cached:
#   bench/qemu-plugin.sh insn      prints the path of qemu's own example instruction counter
#                                  (tests/plugin/insn.c of qemu's source): "insns: N" at the end
#   bench/qemu-plugin.sh block     prints the path of bench/board/block_profile.c built: the
#                                  instructions of every translated block, for frame-costs.sh
#   bench/qemu-plugin.sh frames    prints the path of bench/frame_insns.c built: instructions
#                                  per frame of a user-mode program, for arm-cpu-counts.sh
# Cached under ${XDG_CACHE_HOME:-$HOME/.cache}/ringwave/, keyed by this script, the plugin's
# source and qemu's version. As root it adds a deb-src entry for bookworm when apt has none.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
kind=${1:-}
case "$kind" in
insn) source_file=tests/plugin/insn.c library=libinsn.so ;;
block) source_file=$root/bench/board/block_profile.c library=libblock_profile.so ;;
frames) source_file=$root/bench/frame_insns.c library=libframe_insns.so ;;
*) echo "usage: qemu-plugin.sh insn|block|frames" >&2; exit 2 ;;
esac
. "$root/scripts/lib/apt.sh"    # apt_source_index, apt_source_fetch
. "$root/scripts/lib/cache.sh"  # cache_key, cache_begin, cache_commit

versions=$(dpkg-query -W -f='${Package} ${Version}\n' qemu-user qemu-system-arm 2>/dev/null |
           awk '$2 != ""' || true)
[ -n "$versions" ] || { echo "qemu-plugin.sh: no qemu installed (scripts/deps.sh arm)" >&2; exit 1; }

# The plugin header and qemu's example plugins, from the source package, once per version.
sources=$cache_dir/qemu-plugin-sources-$( { cat "$0"; echo "$versions"; } | cache_key)
if cache_begin "$sources" include/qemu-plugin.h; then
    apt_source_index qemu-plugin.sh qemu
    UNPACK=0 apt_source_fetch "$cache_work/download" qemu
    (cd "$cache_work/download" &&
        tar xf qemu_*.orig.tar.* --wildcards '*/include/qemu/qemu-plugin.h' '*/tests/plugin/*.c')
    mkdir -p "$cache_work/out/include" "$cache_work/out/tests/plugin"
    cp "$(find "$cache_work/download" -name qemu-plugin.h)" "$cache_work/out/include/"
    cp "$(dirname "$(find "$cache_work/download" -path '*/tests/plugin/insn.c')")"/*.c \
        "$cache_work/out/tests/plugin/"
    cache_commit "$cache_work/out" "$sources"
    rm -rf "$cache_work"  # the download; the plugin's own scratch folder comes next
fi

case "$source_file" in /*) ;; *) source_file=$sources/$source_file ;; esac
plugin=$cache_dir/qemu-plugin-$kind-$( { cat "$0" "$source_file"; echo "$versions"; } | cache_key)
if cache_begin "$plugin" "$library"; then
    mkdir "$cache_work/out"
    # shellcheck disable=SC2046  # glib's flags, split
    gcc -shared -fPIC -O2 -Wall -o "$cache_work/out/$library" "$source_file" \
        -I"$sources/include" $(pkg-config --cflags --libs glib-2.0)
    cache_commit "$cache_work/out" "$plugin"
fi
echo "$plugin/$library"
