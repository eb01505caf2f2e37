#!/bin/sh
# Lists the C and C++ files of the tree that do not follow .clang-format and
# fails when there is any; `tools/check-format.sh --fix` formats them.
set -eu
cd "$(dirname "$0")/.."
fix=${1:-}
command -v clang-format >/dev/null || { echo "clang-format is not installed" >&2; exit 1; }
bad=0
for f in $(git ls-files '*.c' '*.cpp' '*.h' 2>/dev/null || find src tests bench fuzz -name '*.[ch]' -o -name '*.cpp'); do
    if [ "$fix" = --fix ]; then
        clang-format -i "$f"
    elif ! clang-format --dry-run -Werror "$f" >/dev/null 2>&1; then
        echo "not formatted: $f (tools/check-format.sh --fix)"
        bad=1
    fi
done
exit $bad
