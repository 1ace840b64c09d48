#!/bin/bash
# The virtual SP: builds its kernel from Debian's linux-source-6.1 (once per
# kernel.config and source release, into a cache outside the tree), the ruvo
# driver module against it, the SP image's static zarn, simulator and test
# programs, and boots it all in qemu-system-ppc as a PowerMac G4 with a plan
# (see init/plan.h) whose results come back on the serial console.
#   standins/sp-vm/machine.sh build        build whatever is missing or out of date
#   standins/sp-vm/machine.sh boot PLAN    build, then boot; the console on standard output
# Environment: ZARN_BUILD (default build-ppc-static/), SP_VM_CACHE (default
# /var/cache/zarn-sp-vm), SP_VM_TIMEOUT (seconds before the machine is
# stopped, default 600).
set -euo pipefail

here=$(cd "$(dirname "$0")" && pwd)
repo=$(cd "$here/../.." && pwd)
module_source=$repo/standins/ruvo-driver/module
build=${ZARN_BUILD:-$repo/build-ppc-static}
cache=${SP_VM_CACHE:-/var/cache/zarn-sp-vm}
kernel='' module='' scratch=''
cross=(ARCH=powerpc CROSS_COMPILE=powerpc-linux-gnu-)
packages=(linux-source-6.1 xz-utils qemu-system-ppc g++-powerpc-linux-gnu cmake ninja-build make bc bison
          flex libssl-dev libelf-dev)

install_packages() {
    local missing=() p
    for p in "${packages[@]}"; do
        dpkg -s "$p" >/dev/null 2>&1 || missing+=("$p")
    done
    [ ${#missing[@]} -eq 0 ] && return
    apt-get update -q
    DEBIAN_FRONTEND=noninteractive apt-get install -y -q "${missing[@]}"
}

digest() {
    cat "$@" | sha256sum | cut -c1-16
}

source_tree() {
    local release
    release=$(dpkg-query -W -f='${Version}' linux-source-6.1)
    local tree=$cache/linux-$release
    if [ ! -e "$tree/.unpacked" ]; then
        rm -rf "$tree" && mkdir -p "$tree"
        tar -xf /usr/src/linux-source-6.1.tar.xz -C "$tree" --strip-components=1
        touch "$tree/.unpacked"
    fi
    echo "$tree"
}

# Options the fragment asks for that the configuration did not take (a
# dependency missing) would make a kernel that boots but lacks them.
check_fragment_taken() {
    local config=$1 line
    while read -r line; do
        case $line in
        CONFIG_*=n) ! grep -q "^${line%=n}=" "$config" || { echo "sp-vm: $line not taken" >&2; return 1; } ;;
        CONFIG_*) grep -qx "$line" "$config" || { echo "sp-vm: $line not taken" >&2; return 1; } ;;
        esac
    done <"$here/kernel.config"
}

build_kernel() {
    local tree=$1 out=$2
    [ -e "$out/.built" ] && return
    rm -rf "$out" && mkdir -p "$out"
    make -s -C "$tree" O="$out" "${cross[@]}" tinyconfig >/dev/null
    "$tree/scripts/kconfig/merge_config.sh" -m -O "$out" "$out/.config" "$here/kernel.config" >/dev/null
    make -s -C "$tree" O="$out" "${cross[@]}" olddefconfig
    check_fragment_taken "$out/.config"
    echo "sp-vm: building the kernel in $out (a few minutes, once)" >&2
    make -s -C "$out" "${cross[@]}" -j"$(nproc)" vmlinux modules
    touch "$out/.built"
}

build_module() {
    local kernel=$1 out=$2
    [ -e "$out/ruvo.ko" ] && return
    rm -rf "$out" && mkdir -p "$out"
    cp "$module_source/Kbuild" "$module_source/ruvo.c" "$out/"
    make -s -C "$kernel" M="$out" "${cross[@]}" KCFLAGS=-Werror modules
}

build_programs() {
    if [ ! -e "$build/build.ninja" ]; then
        cmake -S "$repo" -B "$build" -G Ninja -DCMAKE_TOOLCHAIN_FILE="$repo/cmake/powerpc-linux-gnu.cmake" \
            -DZARN_STATIC=ON >/dev/null
    fi
    cmake --build "$build" --target zarn zarn-agent-sim sp-vm-init sp-vm-sh sp-vm-script-recorder \
        >/dev/null
}

# Boots side by side share one build, made by whichever comes first.
build_all() {
    mkdir -p "$cache"
    exec 9>"$cache/.lock"
    flock 9
    install_packages
    local tree
    tree=$(source_tree)
    kernel=$cache/kernel-$(digest "$here/kernel.config" <(echo "$tree"))
    module=$cache/module-$(digest "$module_source/Kbuild" "$module_source/ruvo.c" <(echo "$kernel"))
    build_kernel "$tree" "$kernel"
    build_module "$kernel" "$module"
    build_programs
    exec 9>&-
}

# The initramfs: the programs stripped, the SP's directories, and the plan.
# Its /bin/sh is the stand-in of sh.c: Debian 12 has no PowerPC shell, and
# zarn's scripts line needs no more than it does.
make_initramfs() {
    local plan=$1 out=$2 stripped=$2.d
    mkdir -p "$stripped"
    local name
    for name in zarn zarn-agent-sim sp-vm/sp-vm-init sp-vm/sp-vm-sh sp-vm/sp-vm-script-recorder; do
        powerpc-linux-gnu-strip -o "$stripped/${name##*/}" "$build/$name"
    done
    {
        echo "nod /dev/console 0600 0 0 c 5 1"
        for name in /dev /proc /sys /pstore /etc /bin /usr /usr/bin /usr/local /usr/local/bin /lib \
            /lib/modules /sp-vm; do
            echo "dir $name 0755 0 0"
        done
        echo "dir /tmp 1777 0 0"
        echo "file /init $stripped/sp-vm-init 0755 0 0"
        echo "file /bin/sh $stripped/sp-vm-sh 0755 0 0"
        echo "file /usr/local/bin/zarn $stripped/zarn 0755 0 0"
        echo "file /usr/local/bin/spIpConfig.sh $stripped/sp-vm-script-recorder 0755 0 0"
        echo "file /usr/local/bin/addHosts.sh $stripped/sp-vm-script-recorder 0755 0 0"
        echo "file /usr/bin/zarn-agent-sim $stripped/zarn-agent-sim 0755 0 0"
        echo "file /lib/modules/ruvo.ko $module/ruvo.ko 0644 0 0"
        echo "file /sp-vm/plan $plan 0644 0 0"
    } >"$out.list"
    "$kernel/usr/gen_init_cpio" "$out.list" >"$out"
}

# Two sungem NICs on a hub of their own: the SP's end and the platform's.
# That the hub reaches no host network is the point, so qemu's warning about
# it is left out. The machine keeps its display card, unseen: without it the
# firmware names no output device and the kernel's entry stops at once.
boot() {
    local plan=$1
    scratch=$(mktemp -d)
    trap 'rm -rf "$scratch"' EXIT
    make_initramfs "$plan" "$scratch/initramfs.cpio"
    timeout "${SP_VM_TIMEOUT:-600}" qemu-system-ppc -M mac99 -cpu G4 -m 256 \
        -display none -monitor none -serial stdio -no-reboot \
        -netdev hubport,id=sp,hubid=0 -device sungem,netdev=sp \
        -netdev hubport,id=platform,hubid=0 -device sungem,netdev=platform \
        -kernel "$kernel/vmlinux" -initrd "$scratch/initramfs.cpio" \
        -append "console=ttyPZ0 loglevel=1" </dev/null \
        2> >(grep -v '^qemu-system-ppc: warning: hub 0 is not connected to host network$' >&2)
}

case ${1:-} in
-h | --help) sed -n '2,/^[^#]/s/^# \{0,1\}//p' "$0" ;;
build) build_all ;;
boot)
    [ $# -eq 2 ] || { echo "usage: machine.sh boot PLAN" >&2; exit 2; }
    build_all
    boot "$2"
    ;;
*)
    echo "usage: machine.sh build | boot PLAN" >&2
    exit 2
    ;;
esac
