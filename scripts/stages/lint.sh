#!/bin/bash
# House rules that the compiler does not hold: every C and C++ file formatted
# as .clang-format says, every shell script clean under shellcheck, the
# program linked against the C library alone, and no include path that
# climbs out of its folder.
#   scripts/stages/lint.sh BUILD_DIR      (a built tree, for its zarn)
set -euo pipefail

if [ $# -ne 1 ] || [ ! -x "$1/zarn" ]; then
    echo "usage: lint.sh BUILD_DIR (a tree that holds a built zarn)" >&2
    exit 2
fi
build=$1
cd "$(dirname "$0")/../.."
failed=0
fail() {
    echo "lint: $*" >&2
    failed=1
}

mapfile -t sources < <(git ls-files '*.c' '*.cpp' '*.h')
clang-format-14 --dry-run -Werror "${sources[@]}" || fail "format the files above with clang-format-14 -i"

mapfile -t scripts < <(git ls-files | while read -r file; do
    case $file in
    *.sh) echo "$file" ;;
    *) [ -f "$file" ] && head -c 64 "$file" | grep -q '^#!.*\(bash\|sh\)$' && echo "$file" ;;
    esac
done)
shellcheck "${scripts[@]}" || fail "shellcheck found problems in the scripts above"

libraries=$(ldd "$build/zarn" | awk '$1 !~ /^(linux-vdso|\/lib.*ld-linux|libc\.so)/ {print $1}')
[ -z "$libraries" ] || fail "zarn links more than the C library: $libraries"

# The build holds the layers apart (cmake/layers.cmake); a path that climbs
# out of a folder would slip past it.
if git grep -n -E '#include "[^"]*\.\./' -- '*.c' '*.cpp' '*.h'; then
    fail "includes above climb out of their folder: name the header from its layer"
fi

# Every program the README names answers --help with its usage, status 0.
for program in scripts/test scripts/demo scripts/sp-sandbox scripts/sp-vm bench/run.sh; do
    "$program" --help >/dev/null || fail "$program --help does not end with status 0"
done

[ "$failed" -eq 0 ] && echo "lint: clean"
exit "$failed"
