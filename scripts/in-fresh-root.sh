#!/usr/bin/env bash
# Runs a command in a fresh, minimal Debian root, as a new user would on a new machine: makes the
# root with mmdebstrap (Debian's apt, sudo and git, nothing more), clones this checkout's HEAD
# into it as an ordinary user who may use sudo, runs the command in the clone as that user, and
# removes the root afterwards, however the command ends. Exits with the command's status.
#
#   scripts/in-fresh-root.sh [--x] RELEASE COMMAND...
#
#   RELEASE   bookworm (Debian 12) or trixie (Debian 13), or any other Debian suite
#   --x       the command runs under an X server (xvfb-run), e.g. `--x trixie ./run.sh`; Xvfb
#             is installed in the root for it first, outside the sets the scripts install
#
# For example `scripts/in-fresh-root.sh trixie ./test.sh` or `... bookworm ./package.sh`. Run as
# root (it asks sudo otherwise); installs mmdebstrap where it is missing. The root is made under
# $TMPDIR (or /tmp) and needs about 4 GB for ./test.sh. Only committed work is cloned.
set -euo pipefail

with_x=0
if [ "${1:-}" = --x ]; then
    with_x=1
    shift
fi
if [ $# -lt 2 ]; then
    echo "usage: $0 [--x] RELEASE COMMAND..." >&2
    exit 2
fi
release=$1
shift

if [ "$(id -u)" -ne 0 ]; then
    exec sudo -- "$0" "$@"
fi
top=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)

if ! command -v mmdebstrap >/dev/null; then
    apt-get update -qq
    DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends mmdebstrap
fi

root=$(mktemp -d "${TMPDIR:-/tmp}/lumenvale-$release-XXXXXX")
namespace=
remove_root() {
    # Stopped before the command ended: its namespace ends with unshare (--kill-child), which
    # only SIGKILL stops.
    if [ -n "$namespace" ] && kill -KILL "$namespace" 2>/dev/null; then
        wait "$namespace" 2>/dev/null || true
    fi
    # The mounts below live in a mount namespace of their own and end with it; should one
    # still be seen here, the root is left alone rather than deleted through it.
    if findmnt -rn -o TARGET | grep -q "^$root/"; then
        echo "in-fresh-root: something is still mounted in $root; left in place" >&2
        return
    fi
    rm -rf --one-file-system "$root"
}
trap remove_root EXIT
trap 'exit 130' INT
trap 'exit 143' TERM

mirror=http://deb.debian.org/debian
sources=("deb $mirror $release main")
case "$release" in
sid | unstable) ;;
*)
    sources+=("deb $mirror $release-updates main")
    sources+=("deb http://deb.debian.org/debian-security $release-security main")
    ;;
esac
echo "in-fresh-root: making a minimal Debian $release root in $root"
mmdebstrap --quiet --variant=apt --include=sudo,git,ca-certificates,passwd "$release" "$root" \
    "${sources[@]}"

user=lumenvale
echo "127.0.1.1 $(hostname)" >>"$root/etc/hosts"
chroot "$root" useradd --create-home --shell /bin/bash "$user"
echo "$user ALL=(ALL:ALL) NOPASSWD: ALL" >"$root/etc/sudoers.d/$user"
chmod 0440 "$root/etc/sudoers.d/$user"
if [ "$with_x" -eq 1 ]; then
    chroot "$root" apt-get update -qq
    chroot "$root" env DEBIAN_FRONTEND=noninteractive apt-get install -y -qq \
        --no-install-recommends xvfb xauth >/dev/null
fi

# HEAD as a bundle, cloned by the user as from any other remote.
bundle=$root/home/$user/lumenvale.bundle
git -C "$top" bundle create --quiet "$bundle" HEAD
chroot "$root" chown "$user:" "/home/$user/lumenvale.bundle"
chroot "$root" runuser -u "$user" -- git -c advice.detachedHead=false clone --quiet \
    "/home/$user/lumenvale.bundle" "/home/$user/lumenvale"
chroot "$root" runuser -u "$user" -- git -C "/home/$user/lumenvale" switch --quiet -c main
rm "$bundle"

runner=(bash -c 'cd ~/lumenvale && exec "$@"' command)
if [ "$with_x" -eq 1 ]; then
    runner=(bash -c 'cd ~/lumenvale && exec xvfb-run -a -s "-nolisten tcp" "$@"' command)
fi
echo "in-fresh-root: running $* in the clone, as $user"
status=0
# A mount and process namespace of its own: everything the command started ends with it, and so
# do the mounts, whatever happens.
unshare --mount --pid --fork --kill-child --propagation private -- bash -c '
    root=$1
    shift
    mount -t proc proc "$root/proc"
    mount -t devpts -o newinstance,ptmxmode=0666,mode=0620 devpts "$root/dev/pts"
    mount -t tmpfs -o mode=1777 shm "$root/dev/shm"
    exec chroot "$root" runuser -l "$0" -c "$(printf "%q " "$@")"
' "$user" "$root" env CI="${CI:-}" "${runner[@]}" "$@" &
namespace=$!
wait "$namespace" || status=$?
namespace=
echo "in-fresh-root: $* ended with status $status in Debian $release"
exit "$status"
