#!/usr/bin/env bash
# End-to-end checks of a cross-built ringwave run under user-mode emulation (qemu-user), with
# SDL's dummy video driver: the cases of steps.sh (sigint, sigterm, no-video-driver).
#   emulated_e2e.sh CASE RINGWAVE EMULATOR [EMULATOR ARGS...]
# e.g. emulated_e2e.sh sigint build/arm/ringwave qemu-arm -cpu arm926
set -u
case_name=$1
ringwave=$2
shift 2
emulator=("$@")
[ ${#emulator[@]} -gt 0 ] || { echo "FAIL: no emulator given" >&2; exit 1; }
work=$(mktemp -d)
export SDL_VIDEODRIVER=dummy

here=$(dirname "$0")
. "$here/report_checks.sh"
. "$here/steps.sh"

# Whether process $1 still runs (an ended child stays until it is waited for).
running() {
    local state
    state=$(awk '{ print $3 }' "/proc/$1/stat" 2>/dev/null) || return 1
    [ -n "$state" ] && [ "$state" != Z ]
}
ended() { ! running "$pid"; }

# The host process's signal mask shows the emulator's handlers, not the program's, so the
# emulator logs the program's system calls instead.
start_ringwave() {
    env --default-signal "${emulator[@]}" -strace -D "$work/syscalls" "$ringwave" \
        > "$work/out" 2> "$work/err" < /dev/null &
    pid=$!
}

# Once a handler for the signal is installed (SDL's first, while it starts video and the
# signal is held; the program's own then replaces it) and the loop has run a while, the
# signal is sent. A run that a quit request does not end within a minute has hung (frames
# take milliseconds here): it fails with the end of its system calls, not the test's timeout.
handles() { grep -Eq "rt_sigaction\\(SIG$1,0x[0-9a-f]+," "$work/syscalls" 2>/dev/null; }
handles_or_ended() { handles "$1" || ended; }
signal_ringwave() {
    local sig=$1
    poll 1200 handles_or_ended "$sig"  # up to two minutes: the table is slow under emulation
    handles "$sig" || fail "no handler for SIG$sig"
    sleep 1
    kill -"$sig" "$pid"
    if ! poll 600 ended; then
        tail -n 5 "$work/syscalls" >&2
        fail "still running a minute after SIG$sig"
    fi
    status=0
    wait "$pid" || status=$?
    pid=
}

run_ringwave() {
    status=0
    env "$@" timeout 120 "${emulator[@]}" "$ringwave" > "$work/out" 2> "$work/err" < /dev/null ||
        status=$?
}

run_case "$case_name"
