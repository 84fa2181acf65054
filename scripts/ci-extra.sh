#!/usr/bin/env bash
# Extra CI steps, one section per layer that needs them; .ci/run calls this last.
set -euo pipefail
cd "$(dirname "$0")/.."

# -- dial-up: the hand-over of dialling progress from the provider's thread to the GUI
# thread, under ThreadSanitizer. Only the dial-up tests are built and run (about a minute).
echo "== ThreadSanitizer build (dial-up tests)"
cmake -S . -B build-tsan -G Ninja -DCMAKE_BUILD_TYPE=Debug -DPV_SANITIZE=thread \
  -DPV_BUILD_BENCH=OFF >/dev/null
cmake --build build-tsan --target dialup_tests
# die_after_fork=0: the tests start dbus-daemon and the NetworkManager stand-in, which exec
# right after the fork.
TSAN_OPTIONS="halt_on_error=1 die_after_fork=0 suppressions=$PWD/tests/dialup/tsan.supp" \
  ctest --test-dir build-tsan --output-on-failure -j2 -L dialup
