# Sourced by the scripts that make ringwave's cached pieces (the device's toolchain and
# libraries, the boards' kernels and images, the measurement tools).
# An entry is a folder $cache_dir/NAME-KEY, where KEY comes from the contents of the scripts
# that make it and the versions of what it is made from: a changed script makes a new entry.
# It is made in a scratch folder beside it and renamed into place when whole, under a lock, so
# two runs at once build it once and no run ever sees half of one.
#   key=$( { cat "$0"; echo "$versions"; } | cache_key )
#   entry=$cache_dir/NAME-$key
#   if cache_begin "$entry" FILE; then      # FILE: what a whole entry holds, e.g. bin/gcc
#       ... build into "$cache_work"/something ...
#       cache_commit "$cache_work/something" "$entry"
#   fi
cache_dir=${XDG_CACHE_HOME:-$HOME/.cache}/ringwave
_cache_lib=${BASH_SOURCE[0]}

# The key of what standard input holds, and of this file: 16 hexadecimal digits.
cache_key() { cat - "$_cache_lib" | sha256sum | cut -c1-16; }

# Returns 1 when ENTRY already holds FILE (nothing to make). Otherwise takes ENTRY's lock,
# waiting for a run that is making it now (and returns 1 if that run made it), makes the
# scratch folder $cache_work (removed when the script exits) and returns 0.
cache_begin() {
    local entry=$1 file=$2
    [ -e "$entry/$file" ] && return 1
    mkdir -p "${entry%/*}"
    exec {_cache_lock}> "$entry.lock"
    if ! flock -n "$_cache_lock"; then
        echo "-- waiting for another run that makes ${entry##*/}" >&2
        flock "$_cache_lock"
    fi
    [ -e "$entry/$file" ] && return 1
    cache_work=$(mktemp -d "$entry.work.XXXXXX")
    trap 'rm -rf "$cache_work"' EXIT
    return 0
}

# Puts the finished folder DIR in place as ENTRY, in one rename.
cache_commit() {
    local dir=$1 entry=$2
    rm -rf "$entry"
    mv -T "$dir" "$entry"
}

# Points the symbolic link LINK at ENTRY (the link itself replaced, not what it points to).
cache_link() {
    local entry=$1 link=$2
    mkdir -p "${link%/*}"
    ln -sfn "$entry" "$link.new"
    mv -T "$link.new" "$link"
}
