# shellcheck shell=bash
# Throwaway minimal Debian roots, for the scripts that try the project or its package the way a
# new machine would (tools/package-test.sh, tools/debian-root-test.sh). Sourced, not run; the
# caller needs root and sets -euo pipefail.

# This machine's release (bookworm, trixie, ...): the default release of a new root.
debian_release() {
    # shellcheck source=/dev/null
    (. /etc/os-release && echo "${VERSION_CODENAME:?no VERSION_CODENAME in /etc/os-release}")
}

# The Debian mirror of this machine's apt configuration: the URI of a source that serves this
# machine's own release, from the deb822 .sources files or from sources.list. One mirror serves
# every release, so a root of another release is made from it too.
debian_mirror() {
    local release
    release=$(debian_release)
    awk -v release="$release" 'BEGIN { RS = ""; FS = "\n" }
         { uri = ""; suite = 0
           for (i = 1; i <= NF; i++) {
               if ($i ~ /^URIs:/) { split($i, f, " "); uri = f[2] }
               if ($i ~ /^Suites:/) {
                   n = split($i, s, /[ \t]+/)
                   for (j = 2; j <= n; j++) if (s[j] == release) suite = 1 } }
           if (uri != "" && suite) { print uri; exit } }' /etc/apt/sources.list.d/*.sources 2>/dev/null
    # Either file may be missing; a missing one is not an error.
    [ ! -f /etc/apt/sources.list ] ||
        awk -v release="$release" '{ sub(/ \[[^]]*\]/, "") } $1 == "deb" && $3 == release { print $2; exit }' \
            /etc/apt/sources.list
    return 0
}

# make_debian_root RELEASE ROOT [PACKAGE,...]: debootstrap a minimal RELEASE into the empty folder
# ROOT, with the packages named added; a second try rides out a passing network fault. Then the
# root gets its own /proc and pseudo-terminals (the tests and the simulated board need both).
make_debian_root() {
    local release=$1 root=$2 include=${3:-} mirror attempt
    mirror=${MIRROR:-$(debian_mirror | head -n1)}
    if [ -z "$mirror" ]; then
        echo "no Debian mirror for $(debian_release) in the apt configuration; set MIRROR" >&2
        return 2
    fi
    command -v debootstrap >/dev/null ||
        DEBIAN_FRONTEND=noninteractive apt-get install -y -q --no-install-recommends debootstrap
    chmod 0755 "$root"  # the root directory of the new system
    for attempt in 1 2; do
        debootstrap --variant=minbase ${include:+--include="$include"} "$release" "$root" \
            "$mirror" >"$root.debootstrap.log" 2>&1 && break
        tail -n 20 "$root.debootstrap.log"
        [ "$attempt" -eq 1 ] || return 1
        echo "debootstrap failed; trying once more"
        find "$root" -mindepth 1 -maxdepth 1 -exec rm -rf --one-file-system {} +
    done
    rm -f "$root.debootstrap.log"
    mount -t proc proc "$root/proc" &&
        mount -t devpts -o newinstance,ptmxmode=0666,mode=0620 devpts "$root/dev/pts" &&
        ln -sf pts/ptmx "$root/dev/ptmx"
}

# remove_debian_root ROOT: unmounts whatever is mounted inside it, deepest first (a command run
# in the root may have made roots of its own there), then deletes it.
remove_debian_root() {
    local root=$1 mount
    [ -d "$root" ] || return 0
    findmnt -rn -o TARGET | awk -v under="$root/" 'index($0, under) == 1' | sort -r |
        while read -r mount; do
            umount -l "$mount"
        done
    rm -rf --one-file-system "$root" "$root.debootstrap.log"
}
