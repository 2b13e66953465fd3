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
# No error and no warning; the informational notes are printed, not failed on.
lintian --fail-on error,warning "$deb" 2> >(grep -v 'running with root privileges' >&2)
echo "$deb"
