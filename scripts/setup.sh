#!/usr/bin/env bash
# Installs everything the demo, its tools, tests and benchmarks need, from
# Debian 12 packages. Safe to run again: it does nothing when all is there.
#
#   scripts/setup.sh [--cross arm64|armhf]...
#
# --cross adds what building for that ARM architecture on this machine and
# running its tests under emulation take: Debian's cross compiler, the
# libraries of that architecture (multiarch) and qemu's user-mode emulator.
set -euo pipefail

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

packages=(
  # build
  g++ cmake make pkg-config git
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
  # the simulator's terminal view test (tests/ledsim_terminal_test.cpp) runs
  # it in a tmux pane and reads the screen back
  tmux
  # fuzzing (scripts/fuzz.sh): clang with libFuzzer and the sanitizer runtimes
  clang-14 libclang-rt-14-dev
  # the Debian package (scripts/package.sh): CPack's DEB generator calls
  # dpkg-shlibdeps for Depends; lintian checks the package; the install test
  # checks the unit with systemd-analyze
  dpkg-dev lintian systemd
)

as_root() {
  if [ "$(id -u)" -eq 0 ]; then "$@"; else sudo "$@"; fi
}

for arch in ${cross[@]+"${cross[@]}"}; do
  if ! dpkg --print-foreign-architectures | grep -qx "$arch"; then
    as_root dpkg --add-architecture "$arch"
  fi
  packages+=(crossbuild-essential-"$arch" qemu-user)
  # The demo's libraries, the test libraries and the test-stream encoder, and
  # ALSA's plugin for the headless sound server, all of that architecture.
  for p in libgd-dev libvorbisidec-dev libogg-dev libasound2-dev libfftw3-dev libpng-dev \
    libgtest-dev libgmock-dev libvorbis-dev libasound2-plugins; do
    packages+=("$p:$arch")
  done
done

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
    missing+=("$p")
  fi
done

if [ ${#missing[@]} -gt 0 ]; then
  echo "setup: installing ${missing[*]}"
  as_root apt-get update -q
  as_root env DEBIAN_FRONTEND=noninteractive apt-get install -y -q --no-install-recommends "${missing[@]}"
fi

# Debian's stock hosts file names the IPv6 loopback ip6-localhost; some
# container images leave the line out, and the OPC tests need a name that
# resolves to IPv6 only.
if ! getent ahostsv6 ip6-localhost >/dev/null 2>&1; then
  echo "setup: adding the standard ip6-localhost line to /etc/hosts"
  echo '::1     ip6-localhost ip6-loopback' | as_root tee -a /etc/hosts >/dev/null
fi
