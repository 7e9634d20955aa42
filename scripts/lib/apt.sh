# Sourced by the scripts that fetch Debian packages or sources.
# apt may be busy (another installation, an unattended update): apt_retry runs an apt command,
# waiting for apt's locks, and tries again for up to ten minutes before a last plain try.
apt_retry() {
    local try
    for try in $(seq 60); do
        "$@" -o DPkg::Lock::Timeout=10 && return 0
        echo "apt busy or failing; retrying ($try)" >&2
        sleep 10
    done
    "$@"
}
