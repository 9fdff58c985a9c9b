#!/usr/bin/env bash
# shellcheck disable=SC2317 # the steps run through timed
# Runs a command the way a newcomer on a fresh machine would: in a throwaway minimal Debian root
# (debootstrap minbase with git and ca-certificates, nothing else) of the release asked for, on a
# clone of the repository's committed HEAD. Whatever the command needs it must install itself, so
# a missing install step fails here even when this machine has the package. Fails when the
# command fails; prints how long each step took.
#
# usage (as root): tools/debian-root-test.sh RELEASE [COMMAND]
#   RELEASE  bookworm (Debian 12), trixie (Debian 13), ...
#   COMMAND  run from the clone's top folder; default: tools/dev.sh test
#   MIRROR=... overrides the Debian mirror; CI is passed on to the command.
set -euo pipefail
cd "$(dirname "${BASH_SOURCE[0]}")/.."
. tools/debian-root.sh

[ "$(id -u)" -eq 0 ] || { echo "debian-root-test: needs root (debootstrap, chroot, mounts)" >&2; exit 2; }
release=${1:?"usage: $0 RELEASE [COMMAND]"}
command=${2:-tools/dev.sh test}
if [ -n "$(git status --porcelain --untracked-files=no)" ]; then
    echo "debian-root-test: changes that are not committed are not part of the run"
fi

root=$(mktemp -d "/var/tmp/tavix-$release.XXXXXX")
trap 'remove_debian_root "$root"' EXIT
times=()
SECONDS=0
# timed NAME COMMAND...: runs the command and notes how long it took; returns its status.
timed() {
    local name=$1 started=$SECONDS status=0
    shift
    printf '\n== %s\n' "$name"
    "$@" || status=$?
    times+=("$(printf '%-40s %4d min %02d s' "$name" $(((SECONDS - started) / 60)) \
        $(((SECONDS - started) % 60)))")
    return "$status"
}

clone_head() {
    # The committed HEAD alone, as a clone of the pushed branch would have it.
    local clone=$root/root/project
    git init -q "$clone" &&
        git -C "$clone" fetch -q "$PWD" HEAD &&
        git -C "$clone" checkout -q --detach FETCH_HEAD &&
        git -C "$clone" log -1 --format='%h %s' | cut -c1-100
}

run_in_root() {
    # shellcheck disable=SC2016 # expanded by the shell in the root
    chroot "$root" /usr/bin/env -i PATH=/usr/sbin:/usr/bin:/sbin:/bin HOME=/root LANG=C.UTF-8 \
        ${CI:+CI="$CI"} bash -c 'cd /root/project && eval "$1"' bash "$command"
}

status=0
timed "debootstrap $release" make_debian_root "$release" "$root" git,ca-certificates
timed "clone of HEAD" clone_head
timed "$command" run_in_root || status=$?
[ "$status" -eq 0 ] || times+=("$(printf '%-40s exited %d' "$command" "$status")")

printf '\n== Times in the %s root\n' "$release"
printf '%s\n' "${times[@]}"
printf '%-40s %4d min %02d s\n' "in all" $((SECONDS / 60)) $((SECONDS % 60))
exit "$status"
