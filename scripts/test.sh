#!/usr/bin/env bash
# Sets up, builds and runs every test, and says how long it took:
#   0. the set-up's handling of broken package lists;
#   1. the unit, scene and whole-show tests (build/);
#   2. the real demo over the whole show in real time (label e2e, about
#      7 minutes), which runs in the background while
#   3. every unit, scene and whole-show test runs again under AddressSanitizer
#      with UndefinedBehaviorSanitizer, leaks included (build-asan/),
#   4. the player and spectrum tap tests under ThreadSanitizer (build-tsan/),
#   5. the fuzzers run for FUZZ_SECONDS each (build-fuzz/);
#   6. the whole show in virtual time from a build with fused multiply-add
#      allowed (-mfma, build-fma/), which must give the committed frames;
#   7. the Debian package, from a native build without the tests
#      (build-package/), checked with lintian;
#   8. after the real-time show, that package installed, played, purged;
#   9. the builds for the ARM boards (arm64, armhf) against each board's
#      sysroot (scripts/sysroot.sh): the board's programs and the whole show
#      in virtual time, run under qemu user-mode emulation, and each
#      architecture's package (from build-package-ARCH/, without the tests),
#      checked with lintian. An architecture whose
#      package lists cannot be had at all is skipped, loudly: the run ends
#      with "SKIPPED: ARCH: REASON" and the checks it left out, and its exit
#      status is that of everything else.
# Steps 3 to 7 run at a lower priority, so that the real-time show keeps its pace.
# The ARM builds' full unit and scene suites under emulation take longer than
# this gate allows: scripts/cross-test.sh ARCH runs them.
#
#   scripts/test.sh --quick
#
# is the inner loop while working: the native build and step 1 alone (every
# unit, program, scene and whole-show test, no sanitizers, no emulation, no
# real-time show), a few minutes.
set -euo pipefail
cd "$(dirname "$0")/.."
started=$SECONDS
elapsed() { echo "test.sh: $1 after $(((SECONDS - started) / 60)) min $(((SECONDS - started) % 60)) s"; }

status=0
# Step 1, on the native build.
native_suite() {
  scripts/build.sh
  # The audio tests play on ALSA's "default" device; without a sound card that
  # is the headless sound server, started here and left running for reuse.
  eval "$(scripts/headless-sound.sh start)"
  ctest --test-dir build --output-on-failure -j"$(nproc)" -LE e2e || status=$?
  elapsed "native suite done"
}

case ${1:-} in
'') ;;
--quick)
  scripts/setup.sh
  native_suite
  exit $status ;;
*) echo "usage: scripts/test.sh [--quick]" >&2; exit 2 ;;
esac

# Everything is installed first, the ARM boards' sysroots included, so that
# nothing later in the run waits for the package servers.
scripts/setup.sh --cross arm64 --cross armhf
# The set-up against broken package lists, made on the spot (no network).
tests/mirror_failures_test.sh || status=1
mkdir -p build
declare -A skipped=()
for arch in arm64 armhf; do
  sysroot_status=0
  scripts/sysroot.sh "$arch" 2>&1 >/dev/null | tee "build/sysroot-$arch.log" || sysroot_status=$?
  case $sysroot_status in
  0) ;;
  3) skipped[$arch]=$(tail -n 1 "build/sysroot-$arch.log" | sed "s/^sysroot: $arch: \(unavailable: \)\?//") ;;
  *) ;; # any other failure is a failure of the cross build, which tries again
  esac
done
native_suite

ctest --test-dir build --output-on-failure -L e2e >build/e2e.log 2>&1 &
e2e=$!

sanitized_build() { # folder, sanitizer, targets...
  local dir=$1 sanitizer=$2
  shift 2
  nice -n 19 cmake -S . -B "$dir" -DLEDWALL_SANITIZE="$sanitizer" -DLEDWALL_BENCHMARKS=OFF >/dev/null
  nice -n 19 cmake --build "$dir" -j"$(nproc)" ${1:+--target "$@"}
}

sanitized_build build-asan address
ASAN_OPTIONS=detect_leaks=1 nice -n 19 ctest --test-dir build-asan --output-on-failure -j"$(nproc)" -LE e2e || status=$?
elapsed "sanitized suite done"

sanitized_build build-tsan thread alsaplay_test spectrum_tap_test bridge_program_test
TSAN_OPTIONS="suppressions=$PWD/tests/tsan.supp halt_on_error=1" \
  nice -n 19 ctest --test-dir build-tsan --output-on-failure -R '^(Player|SpectrumTap|Bridge\.)' || status=$?

nice -n 19 scripts/fuzz.sh || status=$?

# The frames must not depend on whether the compiler may fuse a*b+c: with
# -mfma it could wherever the build let it.
if grep -qw fma /proc/cpuinfo; then
  nice -n 19 cmake -S . -B build-fma -DCMAKE_CXX_FLAGS=-mfma -DLEDWALL_BENCHMARKS=OFF >/dev/null
  nice -n 19 cmake --build build-fma -j"$(nproc)" --target whole_show_test >/dev/null || status=1
  nice -n 19 ctest --test-dir build-fma --output-on-failure -L show || status=$?
else
  echo "test.sh: this processor has no fused multiply-add; the -mfma build is left out"
fi
elapsed "-mfma whole show done"

nice -n 19 scripts/package.sh amd64 || status=1

wait $e2e || status=$?
cat build/e2e.log
cat build/tests/show_e2e_summary.txt 2>/dev/null || true
elapsed "real-time show done"

tests/package_install_test.sh build-package/packages/ledwall-demo_*_amd64.deb || status=$?
elapsed "package install done"

for arch in arm64 armhf; do
  [ -z "${skipped[$arch]:-}" ] || continue
  if scripts/cross-build.sh "$arch" whole_show_test; then
    # Each of the show tests plays the whole show under emulation, on one core: two at once.
    ctest --test-dir "build-$arch" --output-on-failure -j"$(nproc)" -L show || status=$?
    scripts/package.sh "$arch" || status=1
  else
    status=1
  fi
  elapsed "$arch done"
done

for arch in arm64 armhf; do
  [ -n "${skipped[$arch]:-}" ] || continue
  echo "SKIPPED: $arch: ${skipped[$arch]}"
  echo "test.sh: left out for $arch: its build, its whole show under emulation against the committed digest, its package and lintian's check of it"
done
exit $status
