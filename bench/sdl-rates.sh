#!/usr/bin/env bash
# Frame rates of one ringwave binary on both SDL 1.2 libraries, side by side: the classic
# library it was linked with and sdl12-compat (toolchain/sdl12-compat.sh), each under SDL's
# dummy video driver and in an X server (Xvfb, 640 x 480, 24 bits):
#   bench/sdl-rates.sh [RINGWAVE [SECONDS [ROUNDS]]]
# RINGWAVE defaults to build/test/ringwave (the test command's Release build). Each run lasts
# SECONDS (default 5) and is ended with SIGINT, as Ctrl-C would; the four kinds of run take
# turns, ROUNDS times (default 3), so that a busy spell of the machine does not fall on one
# kind only. Beside each rate, the processor time per frame of ringwave's process (all its
# threads) and of the X server, over the run's last SECONDS: their time in that span over
# the frames drawn in it (the rate times SECONDS). Prints every run, then the median of each
# kind. Reports only: nothing fails on a rate.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
ringwave=${1:-$root/build/test/ringwave}
seconds=${2:-5}
rounds=${3:-3}
[ -x "$ringwave" ] || { echo "sdl-rates.sh: no ringwave at $ringwave" >&2; exit 1; }
compat=$("$root/toolchain/sdl12-compat.sh")
work=$(mktemp -d)
xvfb_pid=
cleanup() {
    [ -n "$xvfb_pid" ] && kill "$xvfb_pid" 2> /dev/null
    rm -rf "$work"
}
trap cleanup EXIT

Xvfb -displayfd 3 -noreset -nolisten tcp -screen 0 640x480x24 3> "$work/display" \
    2> /dev/null &
xvfb_pid=$!
for _ in $(seq 100); do [ -s "$work/display" ] && break; sleep 0.1; done
[ -s "$work/display" ] || { echo "sdl-rates.sh: Xvfb did not start" >&2; exit 1; }
display=":$(head -1 "$work/display")"

# Processor time a process has used (user and system, all threads), in clock ticks.
cpu_ticks() { awk '{ print $14 + $15 }' "/proc/$1/stat"; }
ticks_per_second=$(getconf CLK_TCK)

# One run: $1 the library (classic or sdl12-compat), $2 the video driver (dummy or x11).
# Prints the rate and the processor microseconds per frame of ringwave and of the X server.
run() {
    local library_path=
    [ "$1" = sdl12-compat ] && library_path=$compat
    env --default-signal=INT LD_LIBRARY_PATH="$library_path" DISPLAY="$display" \
        SDL_VIDEODRIVER="$2" "$ringwave" > "$work/out" 2> "$work/err" < /dev/null &
    local pid=$!
    # SIGINT ends the run with its rate once SDL has installed its handler (the ring table
    # comes first): wait for that, then let the run go on.
    local mask=0
    for _ in $(seq 300); do
        mask=$(awk '/^SigCgt:/ { print $2 }' "/proc/$pid/status" 2> /dev/null) || mask=0
        (( (16#${mask:-0} >> 1) & 1 )) && break
        sleep 0.1
    done
    local rw_before x_before rw_after x_after rate
    rw_before=$(cpu_ticks "$pid"); x_before=$(cpu_ticks "$xvfb_pid")
    sleep "$seconds"
    rw_after=$(cpu_ticks "$pid"); x_after=$(cpu_ticks "$xvfb_pid")
    kill -INT "$pid"
    wait "$pid" || { cat "$work/err" >&2; return 1; }
    rate=$(sed -n 's/^Frame rate: \(.*\) frames\/sec$/\1/p' "$work/out")
    awk -v r="$rate" -v s="$seconds" -v t="$ticks_per_second" \
        -v a=$((rw_after - rw_before)) -v x=$((x_after - x_before)) \
        'BEGIN { f = r * s; printf "%s %.1f %.1f\n", r, a / t / f * 1e6, x / t / f * 1e6 }'
}

kinds=("classic dummy" "sdl12-compat dummy" "classic x11" "sdl12-compat x11")
echo "ringwave: $ringwave; sdl12-compat: $(cat "$compat/package"); $seconds s a run"
for round in $(seq "$rounds"); do
    for kind in "${kinds[@]}"; do
        read -r library driver <<< "$kind"
        measured=$(run "$library" "$driver")
        printf '%s %s %s %s\n' "$round" "$library" "$driver" "$measured" | tee -a "$work/rates"
    done
done

# The median of column $3 of the runs of one kind.
median() {
    awk -v l="$1" -v d="$2" -v c="$3" '$2 == l && $3 == d { print $c }' "$work/rates" |
        sort -g | awk '{ v[NR] = $1 } END { print v[int((NR + 1) / 2)] }'
}
echo
printf '%-14s %-7s %12s %16s %16s\n' library driver frames/s "ringwave us/frame" "X server us/frame"
for kind in "${kinds[@]}"; do
    read -r library driver <<< "$kind"
    printf '%-14s %-7s %12s %16s %16s\n' "$library" "$driver" "$(median "$library" "$driver" 4)" \
        "$(median "$library" "$driver" 5)" "$(median "$library" "$driver" 6)"
done
