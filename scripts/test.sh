#!/usr/bin/env bash
# Builds KestNetX with warnings as errors and runs the whole test suite.
#   scripts/test.sh                  plain build in build/
#   scripts/test.sh --asan           AddressSanitizer + UBSan build in build-asan/
#   scripts/test.sh --tsan           ThreadSanitizer build in build-tsan/
# Extra arguments after "--" go to ctest (for example: -- -R Logger).
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
. "$top/scripts/deps.sh"

build="$top/build"; sanitize=""
while [ $# -gt 0 ]; do
  case "$1" in
    --asan) build="$top/build-asan"; sanitize=address ;;
    --tsan) build="$top/build-tsan"; sanitize=thread ;;
    --) shift; break ;;
    *) echo "usage: $0 [--asan|--tsan] [-- ctest arguments]" >&2; exit 2 ;;
  esac
  shift
done

kestnet_install_packages "${KESTNET_BUILD_PACKAGES[@]}" "${KESTNET_TEST_PACKAGES[@]}"

cmake -S "$top" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DKESTNET_WERROR=ON -DKESTNET_SANITIZE="$sanitize" >/dev/null
cmake --build "$build" -j "$(nproc)"

# TSan reports races only; these options make a report fail the test.
export TSAN_OPTIONS="halt_on_error=1 second_deadlock_stack=1 ${TSAN_OPTIONS:-}"
export ASAN_OPTIONS="detect_leaks=1 abort_on_error=1 ${ASAN_OPTIONS:-}"
export UBSAN_OPTIONS="print_stacktrace=1 halt_on_error=1 ${UBSAN_OPTIONS:-}"

cd "$build"
ctest --output-on-failure -j "$(nproc)" "$@"
