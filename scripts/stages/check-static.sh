#!/bin/bash
# Static analysis of the product sources (base/ cli/ agent/ link/ and the
# agent simulator): clang-tidy with the repository's .clang-tidy, over the
# compile commands of a build configured in BUILD_DIR, then cppcheck. Exits
# non-zero on any finding.
#   scripts/stages/check-static.sh BUILD_DIR
set -euo pipefail

if [ $# -ne 1 ]; then
    echo "usage: check-static.sh BUILD_DIR" >&2
    exit 2
fi
root=$(cd "$(dirname "$0")/../.." && pwd)
build=$1
directories=(base cli agent link standins/agent-sim)

cmake -S "$root" -B "$build" -G Ninja -DCMAKE_EXPORT_COMPILE_COMMANDS=ON -DZARN_TESTS=OFF \
    -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ >/dev/null

cd "$root"
mapfile -t sources < <(find "${directories[@]}" -name '*.cpp' 2>/dev/null | sort)
echo "clang-tidy: ${#sources[@]} files"
log=$build/clang-tidy.log
if ! printf '%s\n' "${sources[@]}" |
    xargs -P "$(nproc)" -n 4 clang-tidy-14 -p "$build" --quiet >"$log" 2>&1; then
    grep -v 'warnings\? generated\.$' "$log" >&2
    echo "check-static: clang-tidy found problems" >&2
    exit 1
fi

echo "cppcheck"
existing=()
for directory in "${directories[@]}"; do
    [ -d "$directory" ] && existing+=("$directory")
done
cppcheck --enable=warning,performance,portability --error-exitcode=1 --inline-suppr \
    --std=c++20 --language=c++ -I "$root" -q "${existing[@]}"
echo "check-static: clean"
