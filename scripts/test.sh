#!/usr/bin/env bash
# Sets everything up and runs the whole test suite once, in the AddressSanitizer/UndefinedBehavior-
# Sanitizer build; then a short run of every libFuzzer target (clang), and a smoke run of the
# optimised build: the demo's backup and restore of the sample installation must both succeed.
# Pass --tsan to add the ThreadSanitizer run of the threaded parts, --default to run the whole suite
# in the optimised build as well.
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/bootstrap.sh

presets=(asan fuzz)
for option in "$@"; do
  case "$option" in
    --tsan) presets+=(tsan) ;;
    --default) presets+=(default) ;;
    *) echo "usage: $0 [--tsan] [--default]" >&2; exit 1 ;;
  esac
done

for preset in "${presets[@]}"; do
  start=$SECONDS
  echo "== $preset: configure and build"
  cmake --preset "$preset" >/dev/null
  cmake --build --preset "$preset" -j "$(nproc)"
  built=$SECONDS
  echo "== $preset: tests"
  ctest --preset "$preset"
  echo "== $preset: built in $((built - start)) s, tested in $((SECONDS - built)) s"
done

start=$SECONDS
echo "== smoke run of the release build: scripts/demo.sh (output in build/demo.log)"
mkdir -p build
if ! bash scripts/demo.sh >build/demo.log 2>&1; then
  tail -n 40 build/demo.log
  echo "== smoke run failed: see build/demo.log" >&2
  exit 1
fi
grep -E '^exit code' build/demo.log
echo "== smoke run: done in $((SECONDS - start)) s"
