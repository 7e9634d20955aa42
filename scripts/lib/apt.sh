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

# apt_unknown PACKAGE...: prints, one a line, the packages (name[:arch]) apt's lists have no
# version to install of.
apt_unknown() {
    local package candidate
    for package in "$@"; do
        candidate=$(apt-cache policy "$package" 2>/dev/null | awk '$1 == "Candidate:" { print $2 }')
        case "$candidate" in ""|"(none)") echo "$package" ;; esac
    done
}

# apt_update WHO PACKAGE...: apt-get update as root, waiting out apt's locks for up to ten
# minutes. An index that fails to download (a mirror in the middle of a sync: "File has
# unexpected size", apt-get update exits 100) leaves apt with the other lists and that one's
# last copy: when every PACKAGE is then known the update counts as done, with a warning;
# otherwise it is tried twice more, a minute apart, and then fails naming, as WHO, the
# packages apt still does not know.
apt_update() {
    local who=$1 try log unknown
    shift
    log=$(mktemp)
    for try in $(seq 60); do
        if apt-get update -q -o DPkg::Lock::Timeout=10 > "$log" 2>&1; then
            cat "$log" >&2
            rm -f "$log"
            return 0
        fi
        cat "$log" >&2
        if grep -qE 'Could not get lock|Unable to lock' "$log"; then
            echo "$who: apt busy; retrying ($try)" >&2
            sleep 10
            continue
        fi
        unknown=$(apt_unknown "$@")
        if [ -z "$unknown" ]; then
            echo "$who: an index failed to download (above); apt knows every package needed:" \
                 "going on" >&2
            rm -f "$log"
            return 0
        fi
        [ "$try" -ge 3 ] && break
        echo "$who: an index failed to download; retrying in a minute ($try)" >&2
        sleep "${APT_UPDATE_PAUSE:-60}"
    done
    rm -f "$log"
    echo "$who: apt-get update failed and apt knows no" $(apt_unknown "$@") >&2
    return 1
}

# apt_refresh WHO WHAT CHECK...: when the command CHECK fails (apt's lists lack something),
# refreshes apt's lists as root; without root says what to run, as WHO, and fails. WHAT names
# what is missing in that message. The caller checks again afterwards.
apt_refresh() {
    local who=$1 what=$2
    shift 2
    "$@" && return 0
    if [ "$(id -u)" != 0 ]; then
        echo "$who: apt knows no $what; as root, run: apt-get update" >&2
        return 1
    fi
    apt_update "$who" "$what"
}

# debs_unpack DIR PACKAGE...: downloads the Debian packages (name[:arch][=version]) into DIR
# and unpacks each into DIR/NAME (NAME without architecture or version), never installing
# them.
debs_unpack() {
    local dir=$1 package name
    shift
    mkdir -p "$dir"
    # As root apt cannot hand the download to its sandbox user in a private directory.
    (cd "$dir" && apt_retry apt-get download -q -o APT::Sandbox::User=root "$@" \
        > download.log 2>&1) || { cat "$dir/download.log" >&2; return 1; }
    for package in "$@"; do
        name=${package%%[:=]*}
        dpkg-deb -x "$dir/${name}"_*.deb "$dir/$name"
    done
}

# apt_source_fetch DIR PACKAGE: downloads Debian's source package into DIR, unpacked
# (UNPACK=0: the files only, not unpacked).
apt_source_fetch() {
    local dir=$1 package=$2
    local only=()
    [ "${UNPACK:-1}" = 0 ] && only=(--download-only)
    mkdir -p "$dir"
    (cd "$dir" && apt_retry apt-get source "${only[@]}" -q -o APT::Sandbox::User=root \
        "$package" > source.log 2>&1) || { cat "$dir/source.log" >&2; return 1; }
}

# The archive apt already fetches bookworm's binary packages from (its first entry): its
# sources and other suites come from the same place.
apt_archive_uri() {
    {
        # deb822 stanzas: Types, URIs and Suites lines, stanzas separated by blank lines.
        cat /etc/apt/sources.list.d/*.sources 2>/dev/null |
            awk 'function done() { if (deb && suite && uri != "") print uri; deb = suite = 0; uri = "" }
                 /^[ \t]*$/ { done(); next }
                 $1 == "Types:" { for (i = 2; i <= NF; i++) if ($i == "deb") deb = 1 }
                 $1 == "Suites:" { for (i = 2; i <= NF; i++) if ($i == "bookworm") suite = 1 }
                 $1 == "URIs:" { uri = $2 }
                 END { done() }'
        # One-line entries, options in brackets dropped.
        cat /etc/apt/sources.list /etc/apt/sources.list.d/*.list 2>/dev/null |
            sed -e 's/\[[^]]*\]//' | awk '$1 == "deb" && $3 == "bookworm" { print $2 }'
    } | head -n 1
}

# apt_source_index WHO PACKAGE: makes sure apt can fetch Debian's source package PACKAGE,
# which needs a deb-src entry for bookworm main. An existing deb-src entry may only need an
# apt-get update; otherwise, as root, one is added for the archive of apt_archive_uri. Fails
# with what to do, as WHO, when that is not possible.
apt_source_index() {
    local who=$1 package=$2
    local entry=/etc/apt/sources.list.d/ringwave-deb-src.sources
    _has_source() { apt-cache showsrc "$package" 2>/dev/null | grep -q "^Package: $package\$"; }
    _add_entry() {
        local uri; uri=$(apt_archive_uri) || true  # missing source files are no error here
        [ -n "$uri" ] || { echo "$who: no bookworm entry in apt's sources" >&2; return 1; }
        echo "Adding a deb-src entry for bookworm main ($uri): $entry" >&2
        cat > "$entry" <<SOURCES
Types: deb-src
URIs: $uri
Suites: bookworm
Components: main
Signed-By: /usr/share/keyrings/debian-archive-keyring.gpg
SOURCES
    }
    _has_source && return 0
    if [ "$(id -u)" != 0 ]; then
        echo "$who: apt has no source index for $package. As root, add a deb-src" >&2
        echo "  entry for bookworm main and run apt-get update (or run this script as root)." >&2
        return 1
    fi
    if ! grep -rqs --include='*.list' --include='*.sources' -E '^(deb-src|Types:.*deb-src)' \
            /etc/apt/sources.list /etc/apt/sources.list.d; then
        _add_entry || return 1
    fi
    apt_update "$who"
    if ! _has_source && [ ! -e "$entry" ]; then
        _add_entry || return 1
        apt_update "$who"
    fi
    _has_source || { echo "$who: still no $package source package" >&2; return 1; }
}

# apt_private_fetch WHO DIR SUITE ARCH PACKAGE... [-- ALONE...]: downloads Debian SUITE's
# PACKAGEs for ARCH with every dependency, down to the C library, as apt resolves them from an
# empty package status, and the ALONE packages without theirs, into DIR/cache/archives. apt
# runs on a state of its own in DIR (lists, package cache, status) with ARCH as its
# architecture, against the archive of apt_archive_uri: the machine's apt state and dpkg's
# architectures are left alone. Fails saying why, as WHO.
apt_private_fetch() {
    local who=$1 state=$2 suite=$3 arch=$4 uri
    shift 4
    local packages=() alone=()
    while [ $# -gt 0 ] && [ "$1" != -- ]; do packages+=("$1"); shift; done
    [ $# -gt 0 ] && shift
    alone=("$@")
    uri=$(apt_archive_uri) || true
    [ -n "$uri" ] || { echo "$who: no bookworm entry in apt's sources" >&2; return 1; }
    mkdir -p "$state/lists/partial" "$state/cache/archives/partial" "$state/preferences.d"
    touch "$state/status"
    echo "deb [signed-by=/usr/share/keyrings/debian-archive-keyring.gpg] $uri $suite main" \
        > "$state/sources.list"
    local options=(
        -o Dir::State="$state" -o Dir::State::Lists="$state/lists"
        -o Dir::State::status="$state/status" -o Dir::Cache="$state/cache"
        -o Dir::Etc::SourceList="$state/sources.list" -o Dir::Etc::SourceParts="$state/none"
        -o Dir::Etc::Preferences="$state/none" -o Dir::Etc::PreferencesParts="$state/preferences.d"
        -o APT::Architecture="$arch" -o APT::Architectures="$arch"
        -o APT::Install-Recommends=false -o Debug::NoLocking=true
        # As root apt cannot hand the download to its sandbox user in a private directory.
        -o APT::Sandbox::User=root
    )
    apt_retry apt-get "${options[@]}" update -q > "$state/update.log" 2>&1 ||
        { cat "$state/update.log" >&2; return 1; }
    apt_retry apt-get "${options[@]}" install -y -q --download-only "${packages[@]}" \
        > "$state/download.log" 2>&1 || { cat "$state/download.log" >&2; return 1; }
    [ ${#alone[@]} -eq 0 ] && return 0
    (cd "$state/cache/archives" &&
        apt_retry apt-get "${options[@]}" download -q "${alone[@]}" > "$state/alone.log" 2>&1) ||
        { cat "$state/alone.log" >&2; return 1; }
}

# apt_private_unpack DIR TREE LIST: unpacks every package apt_private_fetch downloaded into DIR
# into the folder TREE, never installing them, and adds "name version" of each to the file LIST.
apt_private_unpack() {
    local state=$1 tree=$2 list=$3 deb
    mkdir -p "$tree"
    for deb in "$state"/cache/archives/*.deb; do
        dpkg-deb -x "$deb" "$tree"
        dpkg-deb --show --showformat='${Package} ${Version}\n' "$deb" >> "$list"
    done
}
