#!/usr/bin/env bash
# Installs everything the demo, its tools, tests and benchmarks need, from
# Debian 12 packages. Safe to run again: it does nothing when all is there.
#
#   scripts/setup.sh [--cross arm64|armhf]...
#
# --cross adds what building for that ARM architecture on this machine and
# running its tests under emulation take from this machine's own packages:
# Debian's cross compiler and qemu's user-mode emulator. The board's
# libraries come from a sysroot of their own (scripts/sysroot.sh), never
# from this machine's dpkg: no foreign architecture is added.
#
# A package list that fails to update (a mirror in the middle of a sync) is
# reported and the install goes on with the lists there are; update and
# install are each tried three times (scripts/apt.sh). It fails only when a
# package it needs cannot be installed, naming the package and apt's reason.
set -euo pipefail
cd "$(dirname "$0")/.."
. scripts/apt.sh

cross=()
while [ $# -gt 0 ]; do
  case $1 in
  --cross)
    case ${2:-} in
    arm64 | armhf) cross+=("$2") ;;
    *) echo "setup: --cross takes arm64 or armhf" >&2; exit 2 ;;
    esac
    shift 2 ;;
  *) echo "usage: scripts/setup.sh [--cross arm64|armhf]..." >&2; exit 2 ;;
  esac
done

# The clang that fuzzing uses is the release's own: 14 on Debian 12, 19 on 13.
clang_version=14
if [ "$(. /etc/os-release && echo "${VERSION_ID:-}")" = 13 ]; then clang_version=19; fi

packages=(
  # build (ccache: the test command builds the project in thirteen folders
  # of a clean clone, and they share one compiler cache, also between runs)
  g++ cmake make pkg-config git ccache
  # the demo's libraries (pkg-config: gdlib, vorbisidec, ogg, alsa, fftw3f)
  libgd-dev libvorbisidec-dev libogg-dev libasound2-dev libfftw3-dev libpng-dev
  # the video renderer's (optional for the build: without them it is left out)
  libavformat-dev libavcodec-dev libswscale-dev libswresample-dev libavutil-dev
  # the simulator's browser view (optional too: without it ledsim has no --http),
  # and the real browser its test draws the page in
  libcpp-httplib-dev chromium
  # headless sound: a private sound server that ALSA's "default" plays into
  pulseaudio pulseaudio-utils libasound2-plugins
  # tests and benchmarks (the encoder makes the test streams; GNU time's
  # /usr/bin/time -v measures the whole show in bench/show_bench.sh;
  # callgrind counts instructions in bench/instructions.sh, and its header
  # marks the parts of the show it counts)
  libgtest-dev libgmock-dev libbenchmark-dev libvorbis-dev time valgrind
  # the bridge's independent receiver: Debian's Open Lighting Architecture
  # daemon and its Python client, in a network namespace of the test's own
  # (tests/bridge_receivers_test.py)
  ola ola-python iproute2
  # the simulator's terminal view test (tests/ledsim_terminal_test.cpp) runs
  # it in a tmux pane and reads the screen back
  tmux
  # fuzzing (scripts/fuzz.sh): clang with libFuzzer and the sanitizer runtimes
  clang-$clang_version libclang-rt-$clang_version-dev
  # the Debian package (scripts/package.sh): CPack's DEB generator calls
  # dpkg-shlibdeps for Depends; lintian and hardening-check (devscripts)
  # check the package; the install test checks the unit with systemd-analyze
  dpkg-dev lintian devscripts systemd
)

for arch in ${cross[@]+"${cross[@]}"}; do
  packages+=(crossbuild-essential-"$arch" qemu-user)
done

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
    missing+=("$p")
  fi
done

if [ ${#missing[@]} -gt 0 ]; then
  echo "setup: installing ${missing[*]}"
  apt_update setup
  apt_install setup -- "${missing[@]}" || { echo "setup: failed: a package it needs cannot be installed" >&2; exit 1; }
fi

# Debian's stock hosts file names the IPv6 loopback ip6-localhost; some
# container images leave the line out, and the OPC tests need a name that
# resolves to IPv6 only.
if ! getent ahostsv6 ip6-localhost >/dev/null 2>&1; then
  echo "setup: adding the standard ip6-localhost line to /etc/hosts"
  echo '::1     ip6-localhost ip6-loopback' | apt_as_root tee -a /etc/hosts >/dev/null
fi
