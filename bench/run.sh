#!/bin/bash
# Benchmarks zarn against the agent simulator on loopback and prints each
# figure beside its target, under a line that names the machine and its load:
#   - whole-process time of `zarn -I 127.0.0.1 -T` against a minimal client
#     doing the same exchange (bench/baseline_client.c), and against what an
#     SP script would otherwise use for it: bash's /dev/tcp, busybox nc and
#     socat;
#   - relay throughput of a 16 MiB reply (`zarn -L` to /dev/null);
#   - peak RSS of zarn;
#   - stripped size of the native build and of the static powerpc build.
# The exchanges run in a private network (and mount) namespace, so
# 127.0.0.1:6789 collides with nothing, and any /pstore is hidden under an
# empty tmpfs there, so zarn finds no settings and uses port 6789.
#   bench/run.sh [WORK_DIR]     (default /tmp/zarn-bench; needs root)
# Installs the Debian packages it needs (Debian 12). Not a test and not part
# of CI: it takes a few minutes, mostly building.
set -euo pipefail
# The header above is the usage.
case ${1:-} in -h | --help) sed -n '2,/^[^#]/s/^# \{0,1\}//p' "$0"; exit 0 ;; esac

source_dir=$(cd "$(dirname "$0")/.." && pwd)
work=$(mkdir -p "${1:-/tmp/zarn-bench}" && cd "${1:-/tmp/zarn-bench}" && pwd)
flood_bytes=16777216
packages=(cmake ninja-build g++ g++-powerpc-linux-gnu util-linux iproute2
          hyperfine time socat busybox bash)

install_packages() {
    local missing=() p
    for p in "${packages[@]}"; do
        dpkg -s "$p" >/dev/null 2>&1 || missing+=("$p")
    done
    if [ ${#missing[@]} -gt 0 ]; then
        apt-get update -q
        DEBIAN_FRONTEND=noninteractive apt-get install -y -q "${missing[@]}"
    fi
}

build_all() {
    cmake -S "$source_dir" -B "$work/native" -G Ninja -DCMAKE_BUILD_TYPE=Release \
        >"$work/native.log"
    cmake --build "$work/native" >>"$work/native.log"
    cmake -S "$source_dir" -B "$work/powerpc" -G Ninja -DCMAKE_BUILD_TYPE=Release \
        -DCMAKE_TOOLCHAIN_FILE="$source_dir/cmake/powerpc-linux-gnu.cmake" \
        -DZARN_STATIC=ON >"$work/powerpc.log"
    cmake --build "$work/powerpc" --target zarn >>"$work/powerpc.log" 2>&1
    cc -O2 -Wall -Werror -o "$work/baseline_client" "$source_dir/bench/baseline_client.c"
    strip -o "$work/zarn.native.stripped" "$work/native/zarn"
    powerpc-linux-gnu-strip -o "$work/zarn.powerpc.stripped" "$work/powerpc/zarn"

    # The exchange as a bash script does it alone: connect through /dev/tcp,
    # write the letter, read up to the end-of-text byte.
    cat >"$work/dev_tcp.bash" <<'SCRIPT'
exec 3<>"/dev/tcp/$1/$2"
printf %s "$3" >&3
IFS= read -r -d $'\003' reply <&3
printf '%s\n' "$reply"
SCRIPT
    printf T >"$work/request"
}

# Runs the simulator with extra flags "$@" until stop_agent; waits until it listens.
start_agent() {
    rm -f "$work/agent.ready"
    "$work/native/zarn-agent-sim" --listen 127.0.0.1 --port 6789 --log /dev/null \
        --ready "$work/agent.ready" "$@" >"$work/agent.err" 2>&1 &
    agent_pid=$!
    for _ in $(seq 500); do
        [ -e "$work/agent.ready" ] && return 0
        kill -0 "$agent_pid" 2>/dev/null || break
        sleep 0.01
    done
    echo "agent simulator did not start:" >&2
    cat "$work/agent.err" >&2
    exit 1
}
agent_pid=
stop_agent() {
    if [ -n "$agent_pid" ]; then
        kill "$agent_pid" 2>/dev/null || true
        wait "$agent_pid" 2>/dev/null || true
        agent_pid=
    fi
}

# Times the commands "$@" with hyperfine in 5 rounds of $3 runs each ($2 warm-up
# runs), the commands taking turns, and writes to $work/$1.means the lowest
# round mean of each command in seconds, one a line: load from elsewhere on
# the machine only ever adds, and turns spread it over all the commands. The
# mean is the seventh CSV field from the end, since a command may hold commas.
time_rounds() {
    local name=$1 warmup=$2 runs=$3 round
    shift 3
    for round in 1 2 3 4 5; do
        hyperfine -N --style none --warmup "$warmup" --runs "$runs" \
            --export-csv "$work/$name.$round.csv" "$@" >>"$work/hyperfine.log" 2>&1
    done
    awk -F, 'FNR > 1 {
                 i = FNR - 1
                 mean = $(NF - 6) + 0
                 if (!(i in best) || mean < best[i]) best[i] = mean
             }
             END { for (i = 1; i in best; i++) print best[i] }' \
        "$work/$name".[1-5].csv >"$work/$name.means"
}
mean_of() { sed -n "$2p" "$work/$1.means"; }

# Largest peak RSS in KiB over $1 runs of the remaining arguments.
peak_rss() {
    local runs=$1 most=0 kib
    shift
    for _ in $(seq "$runs"); do
        /usr/bin/time -f %M -o "$work/rss" "$@" >/dev/null
        kib=$(tail -n 1 "$work/rss")
        [ "$kib" -gt "$most" ] && most=$kib
    done
    echo "$most"
}

measure() {
    ip link set lo up
    if [ -d /pstore ]; then
        mount -t tmpfs -o mode=0755 tmpfs /pstore
    fi
    local zarn=$work/native/zarn client=$work/baseline_client
    trap stop_agent EXIT
    rm -f "$work"/*.csv "$work/hyperfine.log"

    # The same exchange by each contender, in the order of the figures; busybox
    # nc takes the request on its standard input, so a busybox shell starts it.
    local exchanges=(
        "$zarn -I 127.0.0.1 -T"
        "$client 127.0.0.1 6789 T"
        "bash $work/dev_tcp.bash 127.0.0.1 6789 T"
        "busybox sh -c 'exec busybox nc \"\$0\" \"\$1\" <\"\$2\"' 127.0.0.1 6789 $work/request"
        "socat -t 5 OPEN:$work/request!!STDOUT TCP:127.0.0.1:6789")
    start_agent --reply "Sun Dec  6 12:00:00 UTC 2026"
    local exchange
    for exchange in "${exchanges[@]}"; do
        # hyperfine splits the line into words as the shell does.
        eval "$exchange" >"$work/exchange.out"
        grep -q 2026 "$work/exchange.out" || { echo "no reply for: $exchange" >&2; exit 1; }
    done
    time_rounds exchange 20 200 "${exchanges[@]}"
    rss_exchange=$(peak_rss 20 "$zarn" -I 127.0.0.1 -T)
    rss_baseline=$(peak_rss 20 "$client" 127.0.0.1 6789 T)
    stop_agent

    start_agent --flood "$flood_bytes"
    time_rounds flood 1 3 "$zarn -I 127.0.0.1 -L" "$client 127.0.0.1 6789 L"
    rss_flood=$(peak_rss 3 "$zarn" -I 127.0.0.1 -L)
    stop_agent

    local rss=$((rss_exchange > rss_flood ? rss_exchange : rss_flood)) row=1 name
    {
        for name in zarn client bash nc socat; do
            echo "${name}_mean=$(mean_of exchange "$row")"
            row=$((row + 1))
        done
        echo "zarn_flood=$(mean_of flood 1)"
        echo "client_flood=$(mean_of flood 2)"
        echo "rss=$rss"
        echo "rss_baseline=$rss_baseline"
    } >"$work/figures"
}

figure() { sed -n "s/^$1=//p" "$work/figures"; }

# Cores, processor model and load average: the figures hold for this machine
# as it was; the ratios to the baseline are what carry to another one.
machine() {
    local model
    model=$(sed -n 's/^model name[[:space:]]*: //p' /proc/cpuinfo | head -n 1)
    echo "machine: $(nproc) cores, ${model:-$(uname -m)}; load average $1 before, $2 after"
}

report() {
    local native_size powerpc_size
    native_size=$(stat -c %s "$work/zarn.native.stripped")
    powerpc_size=$(stat -c %s "$work/zarn.powerpc.stripped")
    awk -v zm="$(figure zarn_mean)" -v cm="$(figure client_mean)" \
        -v bm="$(figure bash_mean)" -v nm="$(figure nc_mean)" -v sm="$(figure socat_mean)" \
        -v zf="$(figure zarn_flood)" -v cf="$(figure client_flood)" \
        -v rss="$(figure rss)" -v rssb="$(figure rss_baseline)" -v mib="$((flood_bytes / 1048576))" \
        -v ns="$native_size" -v ps="$powerpc_size" '
        function row(what, figure, target, ok) {
            printf "%-40s %-26s %-18s %s\n", what, figure, target, ok
        }
        function verdict(ok) { return ok ? "met" : "MISSED" }
        function exchange(what, mean) {
            row(what, sprintf("%.3f ms (%.2fx)", mean * 1000, mean / cm), "", "")
        }
        BEGIN {
            row("figure", "measured (x baseline)", "target", "")
            row("zarn -T, whole process", sprintf("%.3f ms (%.2fx)", zm * 1000, zm / cm),
                "<= 1.2x baseline", verdict(zm / cm <= 1.2))
            exchange("  baseline client, same exchange", cm)
            exchange("  bash script with /dev/tcp", bm)
            exchange("  busybox nc", nm)
            exchange("  socat", sm)
            row("relay of a " mib " MiB reply (zarn -L)",
                sprintf("%.0f MiB/s (%.2fx)", mib / zf, cf / zf), "", "")
            row("  baseline client, same reply", sprintf("%.0f MiB/s", mib / cf), "", "")
            row("zarn peak RSS", sprintf("%d KiB (%.2fx)", rss, rss / rssb), "< 1.5 MiB",
                verdict(rss < 1.5 * 1024))
            row("  baseline client peak RSS", sprintf("%d KiB", rssb), "", "")
            row("stripped zarn, native", sprintf("%d KiB", ns / 1024), "", "")
            row("stripped zarn, static powerpc", sprintf("%d KiB", ps / 1024), "< 900 KiB",
                verdict(ps < 900 * 1024))
        }'
}

if [ -z "${ZARN_BENCH_INSIDE:-}" ]; then
    if [ "$(id -u)" -ne 0 ]; then
        echo "run.sh: needs root (packages, network namespace)" >&2
        exit 1
    fi
    install_packages
    build_all
    load_before=$(cut -d' ' -f1-3 /proc/loadavg)
    ZARN_BENCH_INSIDE=1 unshare -mn --propagation private "$0" "$work"
    machine "$load_before" "$(cut -d' ' -f1-3 /proc/loadavg)"
    report
else
    measure
fi
