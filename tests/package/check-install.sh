#!/bin/bash
# shellcheck disable=SC2016  # the bash -c and awk programs expand their own arguments
# Installs a configured and built tree into a scratch DESTDIR, packs it with
# `cpack -G DEB`, and checks what both hold: the program, stripped, its manual
# page and bash completion, the copyright file and changelog, the example boot
# files, and the agent simulator only when it was asked for. lintian must find
# no error and no warning in the package.
#   tests/package/check-install.sh BUILD_DIR
set -uo pipefail

if [ $# -ne 1 ] || [ ! -f "$1/CMakeCache.txt" ]; then
    echo "usage: check-install.sh BUILD_DIR (a configured and built tree)" >&2; exit 2
fi
build=$(cd "$1" && pwd)
scratch=$(mktemp -d /tmp/zarn-package.XXXXXX)
trap 'rm -rf "$scratch"' EXIT

passed=0 failed=0
check() {  # WHAT COMMAND...
    if "${@:2}" >"$scratch/check.log" 2>&1; then
        passed=$((passed + 1))
    else
        failed=$((failed + 1))
        echo "FAIL: $1"
        sed 's/^/    /' "$scratch/check.log"
    fi
}
# Runs "$@" and fails when it fails or prints anything.
silent() { "$@" 2>&1 | tee "$scratch/said" && [ ! -s "$scratch/said" ]; }
holds() { grep -qxF -e "$2" "$1" || { echo "missing $2"; return 1; }; }
exits() {
    "${@:2}"
    local status=$?
    [ "$status" -eq "$1" ] || { echo "exit status $status, not $1"; return 1; }
}
cache_value() { sed -n "s/^$1:[A-Z]*=//p" "$build/CMakeCache.txt"; }
matches() { [[ $1 =~ $2 ]]; }
formats() { gzip -dc "$1" | groff -ww -z -man; }

package=zarn
[ "$(cache_value ZARN_STATIC)" = ON ] && package=zarn-static
examples=usr/share/doc/$package/examples
main_files=(usr/bin/zarn usr/share/man/man1/zarn.1.gz usr/share/bash-completion/completions/zarn
            "usr/share/doc/$package/copyright" "usr/share/doc/$package/changelog.gz"
            "usr/share/doc/$package/protocol.md"
            "$examples/zarn-config-ruvo.service" "$examples/zarn-config-ruvo.init"
            "$examples/zarn-set-link.sh")
sim_files=(usr/bin/zarn-agent-sim usr/share/man/man1/zarn-agent-sim.1.gz)
sim_wanted=OFF
[ -x "$build/zarn-agent-sim" ] && sim_wanted=$(cache_value ZARN_INSTALL_AGENT_SIM)

# The default install, as a packager runs it.
tree=$scratch/tree
check "cmake --install into DESTDIR" \
    env DESTDIR="$tree" cmake --install "$build" --prefix /usr
(cd "$tree" && find . -type f -o -type l | sed 's|^\./||' | sort) >"$scratch/tree.list"
expected=("${main_files[@]}")
[ "$sim_wanted" = ON ] && expected+=("${sim_files[@]}")
printf '%s\n' "${expected[@]}" | sort >"$scratch/expected.list"
# zarn-agent-sim belongs only when ZARN_INSTALL_AGENT_SIM is ON; nothing else
# (test libraries, stand-ins) belongs at all.
check "install tree holds exactly: ${expected[*]}" diff "$scratch/expected.list" "$scratch/tree.list"

# The simulator's own component, asked for by name.
if [ -x "$build/zarn-agent-sim" ]; then
    sim_tree=$scratch/sim-tree
    check "cmake --install --component agent-sim" \
        cmake --install "$build" --prefix "$sim_tree" --component agent-sim
    check "agent-sim component holds the simulator" test -x "$sim_tree/bin/zarn-agent-sim"
    check "zarn-agent-sim.1 formats without warnings" \
        silent formats "$sim_tree/share/man/man1/zarn-agent-sim.1.gz"
fi

check "zarn.1 formats without warnings" silent formats "$tree/usr/share/man/man1/zarn.1.gz"

completion=$tree/usr/share/bash-completion/completions/zarn
check "the completion registers itself" \
    bash -c 'source "$1" && complete -p zarn | grep -qx "complete -F _zarn zarn"' _ "$completion"

# The unit tests hold the completion's words to the option table; here the
# installed file must offer them.
bash -c 'source "$1"; COMP_WORDS=(zarn --get); COMP_CWORD=1; _zarn; printf "%s\n" "${COMPREPLY[@]}"' \
    _ "$completion" >"$scratch/offered" 2>&1
check "the completion offers the options" holds "$scratch/offered" "--getTime"

# The example unit, verified against the installed tree (--root): its
# ExecStart must name the installed program and its Documentation= the
# installed manual page. verify only looks at the program, so a PowerPC one
# does too. It warns of unknown keys and bad values but still exits 0.
unit_root=$scratch/unit-root
mkdir -p "$unit_root/usr/bin" "$unit_root/usr/lib/systemd/system"
cp "$tree/usr/bin/zarn" "$unit_root/usr/bin/" 2>/dev/null
cp "$tree/$examples/zarn-config-ruvo.service" "$unit_root/usr/lib/systemd/system/" 2>/dev/null
check "systemd-analyze verify accepts the example unit" \
    silent env MANPATH="$tree/usr/share/man" \
    systemd-analyze verify --root="$unit_root" zarn-config-ruvo.service

# The example init script parses, and its start runs zarn --configRuvo and
# ends with zarn's status. It runs against a stub, and only when the stub is
# the one zarn it can reach.
init=$tree/$examples/zarn-config-ruvo.init
check "the example init script parses" sh -n "$init"
stub=$scratch/zarn-stub
printf '%s\n' '#!/bin/sh' "echo \"\$*\" >\"$stub.args\"" 'exit 3' >"$stub"
chmod +x "$stub"
sed "s|/usr/bin/zarn|$stub|g" "$init" >"$scratch/init" 2>/dev/null
if grep -e --configRuvo "$scratch/init" | grep -qvF "$stub"; then
    check "the init script runs /usr/bin/zarn --configRuvo" false
else
    check "the init script's start ends with zarn's status" exits 3 sh "$scratch/init" start
    check "the init script's start runs zarn --configRuvo" holds "$stub.args" --configRuvo
fi

# The Debian package, built beside the tree, not inside it.
check "cpack -G DEB" cpack -G DEB --config "$build/CPackConfig.cmake" -B "$scratch/package"
deb=$(find "$scratch/package" -maxdepth 1 -name '*.deb' | head -n 1)
check "cpack made a .deb" test -n "$deb"
if [ -n "$deb" ]; then
    dpkg-deb -c "$deb" >"$scratch/deb.contents"
    awk '!/^d/ { sub(/^\.\//, "", $6); print $6 }' "$scratch/deb.contents" | sort >"$scratch/deb.list"
    check "package holds exactly: ${expected[*]}" diff "$scratch/expected.list" "$scratch/deb.list"
    # A dynamic build depends on the C library it was linked with; the static
    # one depends on nothing and recommends it for the name services.
    relations=$(dpkg-deb -f "$deb" Depends Recommends)
    if [ "$package" = zarn-static ]; then
        wanted_relations='^Recommends: libc6 \(>= [0-9.]+\), libc6 \(<< [0-9.]+\)$'
    else
        wanted_relations='^Depends: libc6 \(>= [0-9.]+\)$'
    fi
    check "package relations: $relations" matches "$relations" "$wanted_relations"
    # That Depends line is whole only if the program needs no other library.
    needed=$(readelf -d "$tree/usr/bin/zarn" | sed -n 's/.*(NEEDED).*\[\(.*\)\]/\1/p' | xargs)
    [ "$package" = zarn-static ] ||
        check "zarn needs only the C library: $needed" matches "$needed" '^libc\.so\.6$'
    # lintian also checks owners, modes, stripping, the architecture and the manual page.
    check "lintian finds no error or warning" lintian --fail-on error,warning "$deb"
fi

echo "package: $passed passed, $failed failed"
[ "$failed" -eq 0 ]
