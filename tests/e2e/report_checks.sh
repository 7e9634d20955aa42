# Shared by the end-to-end scripts: sourced after they set $work, where a run leaves its
# standard output in $work/out and its standard error in $work/err.

fail() {
    echo "FAIL: $*" >&2
    [ -f "$work/out" ] && sed 's/^/  stdout: /' "$work/out" >&2
    [ -f "$work/err" ] && sed 's/^/  stderr: /' "$work/err" >&2
    [ -s "$work/xvfb.err" ] && sed 's/^/  X server: /' "$work/xvfb.err" >&2
    exit 1
}

# stdout must be exactly the progress line and one frame-rate line with a finite rate, which
# this prints.
check_report_lines() {
    [ "$(wc -l < "$work/out")" -eq 2 ] || fail "expected two stdout lines"
    [ "$(sed -n 1p "$work/out")" = "Precalculating table..." ] || fail "first line"
    local line rate
    line=$(sed -n 2p "$work/out")
    rate=$(printf '%s\n' "$line" | sed -n 's/^Frame rate: \(.*\) frames\/sec$/\1/p')
    [ -n "$rate" ] || fail "rate line malformed: $line"
    case "$rate" in *inf*|*nan*) fail "rate not finite: $rate" ;; esac
    printf '%s\n' "$rate"
}

# As check_report_lines, and the rate must be above 0.
expect_positive_rate() {
    local rate
    rate=$(check_report_lines) || exit 1
    awk -v r="$rate" 'BEGIN { exit !(r + 0 > 0) }' || fail "rate not positive: $rate"
    echo "frame rate: $rate frames/sec"
}
