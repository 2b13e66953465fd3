#!/usr/bin/env bash
# Installs everything the demo, its tools, tests and benchmarks need, from
# Debian 12 packages. Safe to run again: it does nothing when all is there.
set -euo pipefail

packages=(
  # build
  g++ cmake make pkg-config git
  # the demo's libraries (pkg-config: gdlib, vorbisidec, ogg, alsa, fftw3f)
  libgd-dev libvorbisidec-dev libogg-dev libasound2-dev libfftw3-dev libpng-dev
  # headless sound: a private sound server that ALSA's "default" plays into
  pulseaudio pulseaudio-utils libasound2-plugins
  # tests and benchmarks (the encoder makes the test streams)
  libgtest-dev libgmock-dev libbenchmark-dev libvorbis-dev
  # fuzzing (scripts/fuzz.sh): clang with libFuzzer and the sanitizer runtimes
  clang-14 libclang-rt-14-dev
)

as_root() {
  if [ "$(id -u)" -eq 0 ]; then "$@"; else sudo "$@"; fi
}

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
