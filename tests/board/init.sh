#!/bin/sh
# /init of the test board's initramfs: prepares the system as a device's boot would, then
# takes commands from the serial console, one a line, "SEQ COMMAND [ARGS]", and answers each
# with lines "@SEQ ..." ending in "@SEQ done". The host side (board_e2e.sh) drives it:
#   SEQ start [as USER] [on VT] [VAR=VALUE ...] [WORDS ...]
#                                          starts ringwave in the background as a user would
#                                          (environment first, then its command-line words),
#                                          as root or as USER (user, uid 1000), from here or
#                                          from virtual terminal VT, switched to (openvt)
#   SEQ kill SIGNAL                        sends ringwave SIGNAL (TERM, HUP, ...)
#   SEQ state                              the virtual terminals' state and the framebuffer's
#                                          mode (vt_state)
#   SEQ wait                               waits for ringwave's end: status, output, state
#   SEQ do COMMAND                         runs a shell command (a device made different)
#   SEQ measure SECONDS [WORDS ...]        runs ringwave for SECONDS of the board's time, then
#                                          SIGTERM, all on the board (no host in between)
#   SEQ off                                powers the board off (qemu ends: -no-reboot)
# Output of ringwave goes to files and is printed, line by line, once it has ended.
export PATH=/bin
mount -t proc proc /proc
mount -t sysfs sys /sys
mount -t devtmpfs dev /dev
mount -t tmpfs tmp /tmp
# The board's modules, in the order /lib/modules/load names them (dependencies first).
while read -r module; do
    insmod "/lib/modules/$module" || echo "@init insmod $module failed"
done < /lib/modules/load
# The keyboard and the framebuffer appear once their drivers have probed them.
for _ in $(seq 100); do
    grep -q 'kbd' /proc/bus/input/devices 2>/dev/null && [ -e /dev/fb0 ] && break
    sleep 0.1
done
cd /tmp || exit 1
chmod 1777 /tmp

uptime() { cut -d' ' -f1 /proc/uptime; }
pid=

echo "@init fb $(vt_state fb)"
echo "@init ready $(vt_state)"
while read -r seq command args; do
    case "$command" in
    start)
        vars=
        user=root
        set -- $args
        vt=
        [ "$1" = as ] && { user=$2; shift 2; }
        [ "$1" = on ] && { vt=$2; shift 2; }
        while [ $# -gt 0 ] && [ "${1#*=}" != "$1" ]; do vars="$vars $1"; shift; done
        rm -f /tmp/out /tmp/err /tmp/status
        echo "@$seq seed $(date +%s) uptime $(uptime)"
        if [ -z "$vt" ]; then
            # su's shell runs ringwave in its own process: $pid is ringwave.
            su -s /bin/sh -c "exec env $vars /bin/ringwave $*" "$user" > /tmp/out 2> /tmp/err &
        else
            # The terminal is the command's controlling terminal; ringwave's status is kept.
            openvt -c "$vt" -s -w -- su -s /bin/sh -c \
                "env $vars /bin/ringwave $* > /tmp/out 2> /tmp/err; echo \$? > /tmp/status" \
                "$user" &
        fi
        pid=$!
        ;;
    kill)
        kill -"$args" "$pid"
        ;;
    state)
        echo "@$seq vt $(vt_state)"
        echo "@$seq fb $(vt_state fb)"
        ;;
    wait)
        status=0
        wait "$pid" || status=$?
        [ -f /tmp/status ] && status=$(cat /tmp/status)
        echo "@$seq status $status uptime $(uptime)"
        sed "s/^/@$seq out /" /tmp/out
        sed "s/^/@$seq err /" /tmp/err
        echo "@$seq vt $(vt_state)"
        echo "@$seq fb $(vt_state fb)"
        pid=
        ;;
    measure)
        # shellcheck disable=SC2086  # the words, split
        set -- $args
        seconds=$1
        shift
        vars=
        while [ $# -gt 0 ] && [ "${1#*=}" != "$1" ]; do vars="$vars $1"; shift; done
        env $vars /bin/ringwave "$@" > /tmp/out 2> /tmp/err &
        pid=$!
        sleep "$seconds"
        kill -TERM "$pid"
        status=0
        wait "$pid" || status=$?
        echo "@$seq status $status"
        sed "s/^/@$seq out /" /tmp/out
        sed "s/^/@$seq err /" /tmp/err
        pid=
        ;;
    do)
        sh -c "$args" 2>&1 | sed "s/^/@$seq said /"
        ;;
    off)
        echo "@$seq done"
        reboot -f
        ;;
    *)
        echo "@$seq unknown command $command"
        ;;
    esac
    echo "@$seq done"
done
reboot -f
