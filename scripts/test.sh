#!/usr/bin/env bash
# Builds KestNetX with warnings as errors and runs the whole test suite three
# times: plain, under AddressSanitizer + UBSan, and under ThreadSanitizer.
#   scripts/test.sh                  all three, one after the other
#   scripts/test.sh --plain          plain build in build/
#   scripts/test.sh --asan           AddressSanitizer + UBSan build in build-asan/
#   scripts/test.sh --tsan           ThreadSanitizer build in build-tsan/
# Extra arguments after "--" go to ctest (for example: -- -R Logger).
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
. "$top/scripts/deps.sh"

variants=()
while [ $# -gt 0 ]; do
  case "$1" in
    --plain) variants+=(plain) ;;
    --asan) variants+=(asan) ;;
    --tsan) variants+=(tsan) ;;
    --) shift; break ;;
    *) echo "usage: $0 [--plain|--asan|--tsan]... [-- ctest arguments]" >&2; exit 2 ;;
  esac
  shift
done
[ ${#variants[@]} -eq 0 ] && variants=(plain asan tsan)

kestnet_install_packages "${KESTNET_BUILD_PACKAGES[@]}" "${KESTNET_TEST_PACKAGES[@]}"

# TSan reports races only; these options make a report fail the test.
export TSAN_OPTIONS="halt_on_error=1 second_deadlock_stack=1 suppressions=$top/tests/samba_tsan.supp ${TSAN_OPTIONS:-}"
export ASAN_OPTIONS="detect_leaks=1 abort_on_error=1 ${ASAN_OPTIONS:-}"
# What is Samba's own (its client libraries, in every test and kestnet that
# loads them) is told to the sanitizers in these files.
export LSAN_OPTIONS="suppressions=$top/tests/samba_lsan.supp ${LSAN_OPTIONS:-}"
export UBSAN_OPTIONS="print_stacktrace=1 halt_on_error=1 ${UBSAN_OPTIONS:-}"

run_variant() {
  local variant=$1 build sanitize
  case "$variant" in
    plain) build="$top/build"; sanitize="" ;;
    asan) build="$top/build-asan"; sanitize=address ;;
    tsan) build="$top/build-tsan"; sanitize=thread ;;
  esac
  echo "== $variant: building in $build"
  cmake -S "$top" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DKESTNET_WERROR=ON -DKESTNET_SANITIZE="$sanitize" >/dev/null
  cmake --build "$build" -j "$(nproc)"
  echo "== $variant: running the suite"
  (cd "$build" && ctest --output-on-failure -j "$(nproc)" "$@")
}

for variant in "${variants[@]}"; do
  SECONDS=0
  run_variant "$variant" "$@"
  echo "== $variant: passed in $((SECONDS / 60)) min $((SECONDS % 60)) s"
done
