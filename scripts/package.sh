#!/usr/bin/env bash
# Builds the Debian package of the show for one architecture from that
# architecture's build, and checks it with lintian:
#
#   scripts/package.sh amd64|arm64|armhf [12|13]
#
# from a build without the tests, which needs no test library: build-package/
# for amd64 (scripts/build.sh --package), build-package-ARCH/ for arm64 and
# armhf (scripts/cross-build.sh ARCH RELEASE --package); a build that is
# there already is only brought up to date. A board's package is for Debian
# 12 (the default) or 13, built against that release's libraries, and its
# version says which (1.0.0+deb12, 1.0.0+deb13); the amd64 package is this
# machine's. The package is build-package*/packages/ledwall-demo_VERSION_ARCH.deb;
# its last line of output names it.
set -euo pipefail
cd "$(dirname "$0")/.."
arch=${1:-}
release=${2:-12}
case $release in 12 | 13) ;; *) echo "usage: scripts/package.sh amd64|arm64|armhf [12|13]" >&2; exit 2 ;; esac
targets=(demo wiring_test package_files)
case $arch in
amd64)
  [ "$(dpkg --print-architecture)" = amd64 ] || { echo "package: this machine does not build amd64" >&2; exit 2; }
  [ -z "${2:-}" ] || { echo "package: the amd64 package is this machine's own release's" >&2; exit 2; }
  dir=build-package
  scripts/build.sh --package "${targets[@]}" >/dev/null ;;
arm64 | armhf)
  dir=build-package-$arch
  [ "$release" = 12 ] || dir=$dir-deb$release
  scripts/cross-build.sh "$arch" "$release" --package "${targets[@]}" >/dev/null ;;
*) echo "usage: scripts/package.sh amd64|arm64|armhf [12|13]" >&2; exit 2 ;;
esac

rm -f "$dir"/packages/ledwall-demo_*_"$arch".deb
if ! made=$(cd "$dir" && cpack --config CPackConfig.cmake 2>&1); then
  echo "$made" >&2
  exit 1
fi
deb=$(ls "$dir"/packages/ledwall-demo_*_"$arch".deb)
# No error and no warning; of the informational notes, those about hardening
# fail too, and the rest are printed.
if ! report=$(lintian --display-info --fail-on error,warning "$deb" 2> >(grep -v 'running with root privileges' >&2)); then
  echo "$report"
  exit 1
fi
echo "$report"
if grep -q ': hardening-' <<<"$report"; then
  echo "package: lintian finds a program built without Debian's hardening" >&2
  exit 1
fi
# Every program: PIE, stack protector, fortified libc calls, read-only
# relocations, immediate binding. Not control flow protection: Debian 12's
# C start files do not carry it, so no program linked there can.
unpacked=$(mktemp -d)
trap 'rm -rf "$unpacked"' EXIT
dpkg-deb -x "$deb" "$unpacked"
# objdump only disassembles this machine's code; hardening-check's stack
# clash look needs that, the checks above do not.
if ! hardening-check --nocfprotection --quiet "$unpacked"/usr/bin/* 2> >(grep -v -e "can't disassemble" -e '^$' >&2); then
  echo "package: a program in $(basename "$deb") is not hardened" >&2
  exit 1
fi
echo "$deb"
