#!/usr/bin/env bash
# End-to-end checks of a cross-built ringwave run under user-mode emulation (qemu-user), with
# SDL's dummy video driver:
#   emulated_e2e.sh CASE RINGWAVE EMULATOR [EMULATOR ARGS...]
# e.g. emulated_e2e.sh sigint build/arm/ringwave qemu-arm -cpu arm926
set -u
case_name=$1
ringwave=$2
shift 2
emulator=("$@")
[ ${#emulator[@]} -gt 0 ] || { echo "FAIL: no emulator given" >&2; exit 1; }
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
export SDL_VIDEODRIVER=dummy

. "$(dirname "$0")/report_checks.sh"

# Whether process $1 still runs (an ended child stays until it is waited for).
running() {
    local state
    state=$(awk '{ print $3 }' "/proc/$1/stat" 2>/dev/null) || return 1
    [ -n "$state" ] && [ "$state" != Z ]
}

# Starts ringwave under the emulator in the background with default signal dispositions (a
# background job of a script starts with SIGINT ignored). The host process's signal mask
# shows the emulator's handlers, not the program's, so the emulator logs the program's system
# calls instead: once a handler for the signal is installed (SDL's first, while it starts
# video and the signal is held; the program's own then replaces it) and the loop has run a
# while, the signal is sent. Echoes the exit status.
run_and_signal() {
    local sig=$1
    env --default-signal=INT,TERM "${emulator[@]}" -strace -D "$work/syscalls" "$ringwave" \
        > "$work/out" 2> "$work/err" < /dev/null &
    local pid=$! caught=0
    for _ in $(seq 1200); do   # up to two minutes: the table is slow under emulation
        if grep -Eq "rt_sigaction\\(SIG$sig,0x[0-9a-f]+," "$work/syscalls" 2>/dev/null; then
            caught=1; break
        fi
        running "$pid" || break
        sleep 0.1
    done
    [ "$caught" = 1 ] || { kill -KILL "$pid" 2>/dev/null; fail "no handler for SIG$sig"; }
    sleep 1
    kill -"$sig" "$pid"
    # A run that a quit request does not end within a minute has hung (frames take
    # milliseconds here): it fails with the end of its system calls, not the test's timeout.
    for _ in $(seq 600); do
        running "$pid" || break
        sleep 0.1
    done
    if running "$pid"; then
        kill -KILL "$pid" 2>/dev/null; wait "$pid" 2>/dev/null
        tail -n 5 "$work/syscalls" >&2
        fail "still running a minute after SIG$sig"
    fi
    local status=0
    wait "$pid" || status=$?
    echo "$status"
}

case "$case_name" in
sigint|sigterm)
    sig=INT
    [ "$case_name" = sigterm ] && sig=TERM
    status=$(run_and_signal "$sig") || exit 1
    [ "$status" = 0 ] || fail "exit status $status after SIG$sig"
    [ ! -s "$work/err" ] || fail "unexpected stderr"
    expect_positive_rate
    ;;
no-video-driver)
    SDL_VIDEODRIVER=nosuchdriver timeout 120 "${emulator[@]}" "$ringwave" \
        > "$work/out" 2> "$work/err" < /dev/null
    status=$?
    [ "$status" = 1 ] || fail "exit status $status"
    [ "$(cat "$work/out")" = "Precalculating table..." ] || fail "stdout"
    grep -qx "Couldn't initialize SDL: .\+" "$work/err" || fail "stderr"
    [ "$(wc -l < "$work/err")" -eq 1 ] || fail "one stderr line expected"
    ;;
*)
    fail "unknown case $case_name"
    ;;
esac
echo "ok: $case_name"
