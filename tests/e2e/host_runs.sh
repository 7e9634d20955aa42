# Shared by the end-to-end scripts that run ringwave on this machine: the runs, on the SDL
# stack of sdl_stack.sh, and with the test-only interposer $shim in front of SDL (its
# report in $work/report). Sourced after report_checks.sh and steps.sh, with $ringwave the
# program; gives steps.sh's start_ringwave, signal_ringwave and run_ringwave.
. "$(dirname "${BASH_SOURCE[0]}")/sdl_stack.sh"
sdl_stack_setup "$ringwave"
ringwave=$sdl_program

# Sets cmd, the command that runs ringwave on the stack with every signal at its default
# action (a background job of a script starts with SIGINT ignored): with the shim in front
# of SDL (its report in $work/report) when the first word is "shimmed", then environment
# words, then "--" and ringwave's words.
ringwave_command() {
    local preload=() words=()
    [ "${1:-}" = shimmed ] && { preload=(RWSHIM_REPORT="$work/report" LD_PRELOAD="$shim"); shift; }
    while [ $# -gt 0 ] && [ "$1" != -- ]; do words+=("$1"); shift; done
    [ $# -gt 0 ] && shift
    rm -f "$work/report"
    cmd=(env --default-signal "${sdl_env[@]}" "${words[@]}" "${preload[@]}" "$ringwave" "$@")
}

# In the foreground, for at most a minute; sets status.
run_ringwave() {
    ringwave_command "$@"
    status=0
    timeout 60 "${cmd[@]}" > "$work/out" 2> "$work/err" < /dev/null || status=$?
}

# In the background, standard output to $ringwave_stdout ("-": closed); sets pid.
ringwave_stdout=$work/out
start_ringwave() {
    ringwave_command "$@"
    if [ "$ringwave_stdout" = - ]; then
        "${cmd[@]}" >&- 2> "$work/err" < /dev/null &
    else
        "${cmd[@]}" > "$ringwave_stdout" 2> "$work/err" < /dev/null &
    fi
    pid=$!
}

# Waits until the running ringwave has a handler for signal $1 (its own or SDL's, set up
# once SDL has started) and the loop has run a while, checks which SDL it loaded, sends the
# signal and waits for the end; sets status.
signal_ringwave() {
    local sig=$1 number=$1 mask caught=0
    [[ $number =~ ^[0-9]+$ ]] || number=$(kill -l "$sig")
    for _ in $(seq 600); do
        mask=$(awk '/^SigCgt:/ { print $2 }' "/proc/$pid/status" 2>/dev/null) || break
        [ -n "$mask" ] || break
        if (( (16#$mask >> (number - 1)) & 1 )); then caught=1; break; fi
        sleep 0.1
    done
    [ "$caught" = 1 ] || fail "no handler for signal $sig"
    sleep 0.5
    expect_sdl_objects "${shim:-}" < <(mapped_code "$pid")
    kill -s "$sig" "$pid"
    status=0
    wait "$pid" || status=$?
    pid=
}

# The shim's report: one counter's value, and checks of counters given as NAME VALUE pairs.
counter() { awk -v k="$1" '$1 == k { print $2 }' "$work/report"; }
expect_counters() {
    local got
    while [ $# -ge 2 ]; do
        got=$(counter "$1")
        [ "$got" = "$2" ] || fail "$1: expected $2, got '$got'"
        shift 2
    done
}
expect_report() { [ -s "$work/report" ] || fail "no report from the shim (status $status)"; }

# A run with the shim, stopped by it after $1 polls (0: never), environment words after:
# the shim reports, and the run loaded the stack meant.
run_shimmed() {
    local polls=$1; shift
    run_ringwave shimmed RWSHIM_STOP_AFTER_POLLS="$polls" "$@"
    expect_report
    expect_sdl_objects "$shim" < <(awk '$1 == "object" { print $2 }' "$work/report")
}

# A run with the shim, ended by signal $1 while frames are drawn.
signal_shimmed() {
    start_ringwave shimmed
    signal_ringwave "$1"
    expect_report
}
