#!/usr/bin/env bash
# Builds everything with AddressSanitizer (leak checks included) and UndefinedBehaviorSanitizer in
# build-asan and runs the whole test suite there: memory faults, undefined behaviour and leaks fail.
# Run after scripts/test.sh, which installs the packages.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
launcher=()
command -v ccache >/dev/null && launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
cmake -S . -B build-asan -DCMAKE_BUILD_TYPE=RelWithDebInfo -DZANTREL_SANITIZE=ON "${launcher[@]}" >/dev/null
cmake --build build-asan -j"$(nproc)"
# No strict_string_checks: libxkbcommon-x11 hands strndup() buffers without a terminating NUL, which
# that check reports as an overflow inside the X keyboard set-up of every program on a real X server.
# No intercept_tls_get_addr: GCC 12's runtime takes some dynamic TLS blocks (a camera's libcurl thread)
# for an old glibc layout, reads a bogus range from them and its leak check dies with "Tracer caught
# signal 11" (google/sanitizers#1322). Static TLS, stacks and the heap are still scanned.
export ASAN_OPTIONS="detect_leaks=1:abort_on_error=0:detect_stack_use_after_return=0:intercept_tls_get_addr=0"
export LSAN_OPTIONS="suppressions=$root/tests/sanitizer/lsan.supp:print_suppressions=0"
export UBSAN_OPTIONS="suppressions=$root/tests/sanitizer/ubsan.supp:print_stacktrace=1:halt_on_error=1"
cd build-asan
# Slower under the sanitizers: a longer limit per test program.
ctest --output-on-failure --timeout 600 -j2 -E 'shell[.]test_tray_host|secrets[.]test_slow_keyring'
# A keyring that does not answer: GIO drops blocks of the D-Bus proxy whose set-up is cancelled. GLib has no
# frame pointers, so only the slow unwinder reaches the frame the suppression names; it is slow, so only
# this program uses it.
ASAN_OPTIONS="$ASAN_OPTIONS:fast_unwind_on_malloc=0" ctest --output-on-failure --timeout 600 -R 'secrets[.]test_slow_keyring'
# The tray test runs on a real X server: Qt's X platform plugin keeps a keyboard-map reply to the end and
# is unloaded before the leak report, so that report cannot even name the library. Memory errors and
# undefined behaviour are still checked there; leaks are not.
ASAN_OPTIONS="$ASAN_OPTIONS:detect_leaks=0" ctest --output-on-failure --timeout 600 -R 'shell[.]test_tray_host'
