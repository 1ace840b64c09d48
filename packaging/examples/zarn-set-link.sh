#!/bin/sh
# Changes the ruvo link with zarn and checks that it took: zarn's status alone
# does not tell whether a -o or -J was saved (zarn(1), SCRIPTING WITH ZARN).
#   zarn-set-link.sh port PORT                  move the agent to PORT (zarn -o)
#   zarn-set-link.sh addresses PLATFORM SP [HOST]
#                    re-address the link (zarn -J), HOST naming the platform's
#                    current address when the settings do not
# Exit status: 0 done and checked; 1 not done, nothing changed; 2 half done,
# the SP and the platform may disagree: the message says what to do (zarn(1),
# TROUBLESHOOTING); 64 a wrong command line. A line on standard output tells
# success, one on standard error what went wrong.
# Environment: ZARN, the zarn command (default zarn), split at blanks so that
# it may carry arguments; ZARN_WAIT, zarn's guard timer in seconds (default
# 10); ZARN_TRIES, how many times to ask the agent for its version after -J,
# a second apart (default 10).
set -f
zarn=${ZARN:-zarn}
wait=${ZARN_WAIT:-10}
tries=${ZARN_TRIES:-10}
me=${0##*/}

usage() {
    echo "usage: $me port PORT | $me addresses PLATFORM SP [HOST]" >&2
    exit 64
}

fail() { # STATUS MESSAGE
    echo "$me: $2" >&2
    exit "$1"
}

tmp=$(mktemp) || exit 1
trap 'rm -f "$tmp"' EXIT
trap 'exit 1' HUP INT TERM

# run ARGS...: runs zarn; its standard output in $out, its standard error in
# $err, its status in $status.
run() {
    # shellcheck disable=SC2086 # $zarn is a command with its arguments
    out=$($zarn "$@" 2>"$tmp")
    status=$?
    err=$(cat "$tmp")
}

# What zarn printed, for a message.
said() {
    printf 'status %s' "$status"
    [ -n "$out" ] && printf ', output "%s"' "$(printf '%s' "$out" | tr '\n' ' ')"
    [ -n "$err" ] && printf ', error "%s"' "$(printf '%s' "$err" | tr '\n' ' ')"
}

# Succeeds when the last run ended 0 and printed no error element, no
# unsaved-settings line and nothing on standard error.
clean() {
    [ "$status" -eq 0 ] || return 1
    case $out in *"<error>"* | *"Zarn: Unable to save"*) return 1 ;; esac
    [ -z "$err" ]
}

set_port() {
    port=$1
    run -O
    [ "$status" -eq 0 ] || fail 1 "cannot read the stored port: $(said)"
    old=$out
    if [ "$old" = "$port" ]; then
        run -w 3 -L
        clean || fail 2 "port $port is stored already, but the agent does not answer there: $(said)"
        echo "$me: port $port is stored already, and the agent answers there"
        return
    fi
    run -w "$wait" -o "$port"
    told=$(said)
    case $status in
    234 | 242 | 251) fail 1 "zarn -o $port did not reach the agent; nothing changed ($told)" ;;
    esac
    clean && confirmed=yes || confirmed=no
    case $out in *"<cmdRetVal>0</cmdRetVal>"*) ;; *) confirmed=no ;; esac
    case $out in *"Zarn: Unable to save"*) unsaved=yes ;; *) unsaved=no ;; esac
    run -O
    if [ "$status" -eq 0 ] && [ "$out" = "$port" ]; then
        [ "$confirmed" = yes ] ||
            fail 2 "port $port is saved, but zarn -o reported trouble ($told): see zarn(1), DIAGNOSTICS"
        echo "$me: the agent listens on port $port, and the SP saved it"
        return
    fi
    # Not saved: did the agent stay, or move without the SP?
    run -w 3 -L
    clean && fail 1 "the agent did not move to port $port and still answers on $old ($told)"
    if [ "$unsaved" = yes ]; then
        why="the SP could not save it (is /pstore writable?)"
    else
        why="the SP did not see its whole confirmation"
    fi
    fail 2 "the agent no longer answers on port $old and has probably moved to $port, but $why ($told); put port $port into /pstore/ruvo_config (zarn(1), TROUBLESHOOTING), then check with zarn -O and zarn -L"
}

set_addresses() {
    platform=$1 sp=$2 host=$3
    run -j
    # shellcheck disable=SC2086 # the words of the report
    set -- $out
    was=${host:-${1:-}} was_sp=${2:-}
    if [ -n "$host" ]; then
        run -w "$wait" -J -a "$platform" -g "$sp" -I "$host"
    else
        run -w "$wait" -J -a "$platform" -g "$sp"
    fi
    told=$(said)
    case $status in
    234 | 242 | 254 | 255) fail 1 "zarn -J did nothing ($told)" ;;
    esac
    clean && trouble=no || trouble=yes
    run -O
    [ "$status" -eq 0 ] || fail 2 "after zarn -J ($told), zarn -O cannot read the settings: $(said)"
    port=$out
    run -j
    # shellcheck disable=SC2086 # the words of the report
    set -- $out
    shown=${1:-none}
    [ $# -gt 0 ] && shift
    held=no
    for address; do
        [ "$address" = "$sp" ] && held=yes
    done
    if [ "$shown" != "$platform" ] || [ "$held" = no ]; then
        fail 2 "the SP does not hold the new addresses: zarn -j shows platform $shown, ruvo0 ${*:-without an address} ($told); see zarn(1), TROUBLESHOOTING"
    fi
    # The platform takes its new address in its own time.
    try=1
    until run -w 3 -L && clean; do
        [ "$try" -lt "$tries" ] ||
            fail 2 "the SP holds platform $platform and sp $sp, but the agent does not answer at $platform port $port after $tries tries ($told); if the platform was not told, put the SP back with zarn -J -a ${was:-OLD} -g ${was_sp:-OLD} and try again once the agent answers there"
        try=$((try + 1))
        sleep 1
    done
    [ "$trouble" = no ] ||
        fail 2 "the link moved and the agent answers, but zarn -J reported trouble ($told): see zarn(1), DIAGNOSTICS"
    echo "$me: the link is platform $platform, sp $sp, and the agent answers there"
}

case ${1:-} in
port)
    [ $# -eq 2 ] || usage
    set_port "$2"
    ;;
addresses)
    [ $# -eq 3 ] || [ $# -eq 4 ] || usage
    set_addresses "$2" "$3" "${4:-}"
    ;;
-h | --help)
    sed -n '2,/^[^#]/s/^# \{0,1\}//p' "$0"
    exit 0
    ;;
*) usage ;;
esac
