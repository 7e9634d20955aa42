#!/usr/bin/env bash
# scripts/deps.sh when apt-get update fails on one index (a mirror in the middle of a sync),
# against a fake apt on PATH (apt-get, apt-cache, dpkg-query, and id as root):
#   deps_test.sh DEPS_SH
# - every package needed is in the lists that did download: the installation goes on;
# - one is not: deps.sh fails at once, naming that package, and installs nothing.
set -u
deps=$1
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }

mkdir "$work/bin"
cat > "$work/bin/apt-get" <<'FAKE'
#!/bin/sh
echo "apt-get $*" >> "$FAKE_APT_LOG"
case " $* " in
*" update "*)
    echo "E: Failed to fetch http://deb.debian.org/debian-security/dists/bookworm-security/main/binary-armhf/Packages.xz  File has unexpected size (359552 != 360800). Mirror sync in progress? [IP: 151.101.2.132 80]" >&2
    echo "E: Some index files failed to download. They have been ignored, or old ones used instead." >&2
    exit 100 ;;
esac
exit 0
FAKE
cat > "$work/bin/apt-cache" <<'FAKE'
#!/bin/sh
# apt-cache policy PACKAGE: no candidate for the packages FAKE_APT_UNKNOWN names.
package=$2
echo "$package:"
echo "  Installed: (none)"
case " $FAKE_APT_UNKNOWN " in
*" $package "*) echo "  Candidate: (none)" ;;
*) echo "  Candidate: 1.0-1" ;;
esac
FAKE
printf '#!/bin/sh\nexit 1\n' > "$work/bin/dpkg-query"   # nothing installed
printf '#!/bin/sh\necho 0\n' > "$work/bin/id"           # as root
chmod +x "$work/bin"/*

run() {
    : > "$work/apt.log"
    PATH=$work/bin:$PATH FAKE_APT_LOG=$work/apt.log FAKE_APT_UNKNOWN=$1 APT_UPDATE_PAUSE=0 \
        timeout 60 bash "$deps" build > "$work/out" 2>&1
}

run ""
status=$?
[ "$status" = 0 ] || { fail "all packages known: status $status"; cat "$work/out"; }
grep -q "apt knows every package needed" "$work/out" ||
    fail "all packages known: no word that the failed index was passed over"
grep -q "^apt-get .*install .*libsdl1.2-dev" "$work/apt.log" ||
    fail "all packages known: nothing installed"
[ "$(grep -c ' update' "$work/apt.log")" = 1 ] ||
    fail "all packages known: apt-get update run $(grep -c ' update' "$work/apt.log") times, not once"

run "libsdl1.2-dev"
status=$?
[ "$status" != 0 ] || fail "a package unknown: status 0"
grep -q "apt knows no libsdl1.2-dev\$" "$work/out" ||
    { fail "a package unknown: the message does not name it (alone)"; cat "$work/out"; }
! grep -q "install" "$work/apt.log" || fail "a package unknown: apt-get install was run"

[ "$failures" = 0 ] && echo "PASS"
exit $((failures > 0))
