# Shared by the end-to-end scripts that run ringwave on this machine, under the emulator and
# in an X server: the steps their cases are lists of, the cases they all have, and the
# running of one case. Sourced after report_checks.sh. A script gives its own ways to run
# ringwave, output in $work/out and $work/err:
#   start_ringwave          in the background, every signal at its default action
#   signal_ringwave SIG     sends SIG (a name or number) once the running program handles
#                           it and waits for its end; sets status
#   run_ringwave ENV...     in the foreground with the environment words; sets status

# On exit: the ringwave ($pid) and X server a case left running ended, $work removed.
pid=
xvfb_pid=
trap '[ -n "$pid" ] && kill -KILL "$pid" 2> /dev/null; stop_xvfb; rm -rf "$work"' EXIT

# Polls a command every 0.1 s, at most $1 tries; true as soon as the command succeeds.
poll() {
    local tries=$1; shift
    for _ in $(seq "$tries"); do "$@" && return 0; sleep 0.1; done
    return 1
}

expect_status() { [ "$status" = "$1" ] || fail "exit status $status${2:+, $2}"; }
expect_no_stderr() { [ ! -s "$work/err" ] || fail "unexpected stderr${1:+ $1}"; }

# The end of a run that a quit request ended ($1 says how): status 0, nothing on standard
# error, the rate line with a rate above 0.
expect_quit_run() {
    expect_status 0 "${1:-}"
    expect_no_stderr "${1:-}"
    expect_positive_rate
}

# stdout holds the progress line only: no rate line.
expect_unreported() {
    [ "$(cat "$work/out")" = "Precalculating table..." ] || fail "stdout: no rate line expected"
}

# Starts an X server (Xvfb) of depth $1 on the first free display (the server picks it and
# reports it), waits until it accepts clients and exports DISPLAY. -noreset: the server must
# not reset when its last client leaves, or a client connecting just then is refused.
start_xvfb() {
    command -v Xvfb > /dev/null || fail "Xvfb is missing (xvfb)"
    rm -f "$work/display"
    Xvfb -displayfd 3 -noreset -nolisten tcp -screen 0 "640x480x$1" \
        3> "$work/display" 2> "$work/xvfb.err" &
    xvfb_pid=$!
    poll 100 test -s "$work/display" || fail "Xvfb did not start at depth $1"
    export DISPLAY=":$(head -1 "$work/display")"
    poll 50 xdpyinfo > /dev/null 2>&1 || fail "Xvfb does not accept clients on $DISPLAY"
}

stop_xvfb() {
    [ -n "$xvfb_pid" ] && kill "$xvfb_pid" 2> /dev/null && wait "$xvfb_pid" 2> /dev/null
    xvfb_pid=
}

# A quit request by signal $1 while frames are drawn: the run ends as by a key.
quit_by_signal() {
    start_ringwave
    signal_ringwave "$1"
    expect_quit_run "after SIG$1"
}
case_sigint() { quit_by_signal INT; }
case_sigterm() { quit_by_signal TERM; }

# No video driver that SDL can start: status 1, one line on standard error, no rate.
case_no_video_driver() {
    run_ringwave SDL_VIDEODRIVER=nosuchdriver
    expect_status 1
    expect_unreported
    grep -qx "Couldn't initialize SDL: .\+" "$work/err" || fail "stderr"
    [ "$(wc -l < "$work/err")" -eq 1 ] || fail "one stderr line expected"
}

# Runs the case named $1: the function case_NAME, dashes as underscores.
run_case() {
    local function=case_${1//-/_}
    declare -F "$function" > /dev/null || fail "unknown case $1"
    "$function"
    echo "ok: $1"
}
