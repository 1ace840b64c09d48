#!/bin/bash
# Builds the libFuzzer targets with clang in BUILD_DIR and runs each for a
# bounded time over its checked-in seeds; exits non-zero on any crash, leak,
# undefined behaviour or hang, leaving the input that caused it in
# BUILD_DIR/fuzz-artifacts/.
#   scripts/stages/fuzz-smoke.sh BUILD_DIR        (ZARN_FUZZ_SECONDS, default 30, per target)
set -euo pipefail

if [ $# -ne 1 ]; then
    echo "usage: fuzz-smoke.sh BUILD_DIR" >&2
    exit 2
fi
root=$(cd "$(dirname "$0")/../.." && pwd)
build=$(mkdir -p "$1" && cd "$1" && pwd)
seconds=${ZARN_FUZZ_SECONDS:-30}
targets=(settings relay plain_text hosts)

cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ -DZARN_FUZZ=ON -DZARN_TESTS=OFF >/dev/null
cmake --build "$build" --target "${targets[@]/%/_fuzz}"

mkdir -p "$build/fuzz-artifacts"
failed=0
for target in "${targets[@]}"; do
    # New inputs go to a corpus of the build's own; the seeds stay as checked in.
    corpus=$build/fuzz-corpus/$target
    mkdir -p "$corpus"
    echo "== ${target}_fuzz for ${seconds}s"
    if ! (cd "$build" && "$build/tests/fuzz/${target}_fuzz" -max_total_time="$seconds" \
        -max_len=8192 -timeout=10 -print_final_stats=1 \
        -artifact_prefix="$build/fuzz-artifacts/$target-" \
        "$corpus" "$root/tests/fuzz/corpus/$target" 2>"$build/fuzz-$target.log"); then
        tail -n 40 "$build/fuzz-$target.log" >&2
        echo "fuzz-smoke: ${target}_fuzz failed; see $build/fuzz-$target.log" >&2
        failed=1
    else
        grep -E '^(#[0-9]+[[:space:]]+DONE|stat::number_of_executed_units)' "$build/fuzz-$target.log" || true
    fi
done
exit "$failed"
