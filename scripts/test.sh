#!/usr/bin/env bash
# Sets everything up and runs the whole test suite: the normal build, the
# AddressSanitizer/UndefinedBehaviorSanitizer build, then a short run of every libFuzzer target
# (clang). Pass --tsan to add the ThreadSanitizer run.
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/bootstrap.sh

presets=(default asan fuzz)
[[ "${1:-}" == "--tsan" ]] && presets+=(tsan)

for preset in "${presets[@]}"; do
  start=$SECONDS
  echo "== $preset: configure and build"
  cmake --preset "$preset" >/dev/null
  cmake --build --preset "$preset" -j "$(nproc)"
  echo "== $preset: tests"
  ctest --preset "$preset"
  echo "== $preset: done in $((SECONDS - start)) s"
done
