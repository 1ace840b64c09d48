#!/bin/bash
# Runs CMD as root in a private mount, network and process namespace over an
# overlay of the root file system, so the end-to-end tests can own /pstore,
# /etc/hosts, /usr/local/bin and /dev/ruvo without changing the machine, and
# no process in it can signal one outside.
#   tests/e2e/sandbox.sh CMD...
# Inside: lo up; veth ruvo0 (169.254.101.2/24, SP end) <-> plat0 (169.254.101.3/24).
set -euo pipefail

[ "$(id -u)" -eq 0 ] || { echo "sandbox.sh: must be run as root" >&2; exit 1; }
[ $# -gt 0 ] || { echo "usage: sandbox.sh CMD..." >&2; exit 2; }

if [ -z "${ZARN_SANDBOX_TOP:-}" ]; then
    # Outer half: make the mount point, run the inner half in new namespaces
    # and remove the mount point afterwards (a failure exits with its status).
    # The namespaces (and with them every mount and the veth pair) vanish
    # when their last process ends.
    top=$(mktemp -d /tmp/zarn-sbx.XXXXXX)
    trap 'rmdir "$top" 2>/dev/null || true' EXIT
    ZARN_SANDBOX_TOP=$top ZARN_SANDBOX_CWD=$PWD \
        unshare -mnp --fork --propagation private "$0" "$@"
    exit 0
fi

top=$ZARN_SANDBOX_TOP
cwd=$ZARN_SANDBOX_CWD
root=$top/root
mount -t tmpfs -o mode=0700 tmpfs "$top"
mkdir "$top/up" "$top/work" "$root"
mount -t overlay overlay -o "lowerdir=/,upperdir=$top/up,workdir=$top/work" "$root"

mount -t proc proc "$root/proc"
mount -t sysfs sysfs "$root/sys" 2>/dev/null || mount --rbind /sys "$root/sys"
mount -t tmpfs -o mode=0755 tmpfs "$root/dev"
for node in null zero full random urandom tty; do
    if [ -e "/dev/$node" ]; then
        touch "$root/dev/$node"
        mount --bind "/dev/$node" "$root/dev/$node"
    fi
done
mkdir "$root/dev/pts" "$root/dev/shm"
mount -t devpts -o newinstance,ptmxmode=0666 devpts "$root/dev/pts"
ln -s pts/ptmx "$root/dev/ptmx"
mount -t tmpfs -o mode=1777 tmpfs "$root/dev/shm"
ln -s /proc/self/fd "$root/dev/fd"
for fd in 0:stdin 1:stdout 2:stderr; do ln -s "/proc/self/fd/${fd%:*}" "$root/dev/${fd#*:}"; done
install -D -m 0666 /dev/null "$root/dev/ruvo/ruvo0"  # an empty file, in a 0755 folder

for dir in pstore usr/local/bin; do
    mkdir -p "$root/$dir"
    mount -t tmpfs -o mode=0755 tmpfs "$root/$dir"
done

# Test-owned name service files: the upper layer takes the writes, and names
# that are not in the hosts table are asked of a resolver on loopback that
# does not exist, so no query leaves the namespace. This hosts table is the
# one every test starts from.
printf '127.0.0.1\tlocalhost\n::1\tlocalhost ip6-localhost ip6-loopback\n%s\n%s\n' \
    $'127.0.0.1\tzarn-loop.test' $'10.20.30.40\tbuildhost.example.test buildhost' \
    >"$root/etc/hosts"
printf 'nameserver 127.0.0.1\noptions timeout:1 attempts:1\n' >"$root/etc/resolv.conf"

ip link set lo up
ip link add ruvo0 type veth peer name plat0
ip addr add 169.254.101.2/24 dev ruvo0
ip addr add 169.254.101.3/24 dev plat0
ip link set ruvo0 up
ip link set plat0 up

exec chroot "$root" /usr/bin/env -u ZARN_SANDBOX_TOP -u ZARN_SANDBOX_CWD \
    -C "$cwd" "$@"
