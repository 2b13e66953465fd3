#!/usr/bin/env bash
# The set-up against package mirrors that fail, with no network at all: apt
# reads its lists from folders made here (file: sources in a private state of
# apt's, through APT_CONFIG), one holding a small package, one missing.
#
#   tests/mirror_failures_test.sh
#
# Checks that a failed index is tried again, named and passed over; that a
# package that cannot be had is named with apt's reason without holding up
# the others; and that a board's sysroot (scripts/sysroot.sh) is out of reach
# (exit 3, with the reason) when its architecture's lists are broken or
# missing, but a plain failure (exit 1) when the lists are there and lack a
# package. Says PASS or FAIL for each check and exits 1 when one failed.
set -euo pipefail
cd "$(dirname "$0")/.."
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

. tests/support/checks.sh
has() { grep -qF -- "$2" "$1"; }
lacks() { ! grep -qF -- "$2" "$1"; }

# A flat repository with one package, of every architecture.
mkdir -p "$work/repo" "$work/package/DEBIAN"
cat >"$work/package/DEBIAN/control" <<EOF
Package: ledwall-test-dummy
Version: 1.0
Architecture: all
Maintainer: The tests <tests@localhost>
Description: a package for the set-up's tests
EOF
dpkg-deb -b "$work/package" "$work/repo/ledwall-test-dummy_1.0_all.deb" >/dev/null
(cd "$work/repo" && dpkg-scanpackages . /dev/null >Packages 2>/dev/null)

# apt with its own state and the sources given: apt_config NAME SOURCES-LINE...
apt_config() {
  local name=$1 line
  shift
  mkdir -p "$work/$name/state/lists/partial" "$work/$name/cache/archives/partial"
  touch "$work/$name/state/status"
  : >"$work/$name/sources.list"
  for line in "$@"; do echo "$line" >>"$work/$name/sources.list"; done
  cat >"$work/$name/apt.conf" <<EOF
Dir::State "$work/$name/state";
Dir::State::status "$work/$name/state/status";
Dir::Cache "$work/$name/cache";
Dir::Etc::SourceList "$work/$name/sources.list";
Dir::Etc::SourceParts "$work/$name/none";
Debug::NoLocking "true";
APT::Sandbox::User "$(id -un)";
EOF
  echo "$work/$name/apt.conf"
}
# copy: rather than file:, so that apt fetches into its cache as from a mirror.
good="deb [trusted=yes] copy:$work/repo ./"
broken="deb [trusted=yes] file:$work/missing ./"
export APT_PAUSE=0

# 1. An index that fails is tried three times, named, and passed over; the
#    lists that came are used, and a package that cannot be had is named
#    with apt's reason while the rest is still fetched.
conf=$(apt_config mixed "$good" "$broken")
status=0
(
  export APT_CONFIG=$conf
  . scripts/apt.sh
  apt_get=(env LC_ALL=C apt-get)
  apt_update setup
  apt_install setup --download-only -- ledwall-test-dummy ledwall-no-such-package
) >"$work/mixed.out" 2>"$work/mixed.err" || status=$?
check "the update tries three times while an index fails" \
  sh -c "[ \$(grep -c 'updating the package lists failed (try' '$work/mixed.err') -eq 2 ]"
check "the failed index is named with apt's reason" has "$work/mixed.err" "setup: index failed: file:$work/missing ./"
check "an index that came after failing in some compressions is not named" lacks "$work/mixed.err" "index failed: copy:"
check "the update goes on with the lists that came" has "$work/mixed.err" "setup: going on with the package lists there are"
check "the package that cannot be had is named with apt's reason" \
  has "$work/mixed.err" "setup: cannot install ledwall-no-such-package: Unable to locate package ledwall-no-such-package"
check "the package that can be had is not named" lacks "$work/mixed.err" "cannot install ledwall-test-dummy"
check "the package that can be had is fetched all the same" \
  test -f "$work/mixed/cache/archives/ledwall-test-dummy_1.0_all.deb"
check "a package that cannot be had is a failure" test "$status" -eq 1

# 2. A board's sysroot whose architecture's lists are broken, or missing, is
#    out of reach: exit 3 with the reason, no sysroot. Lists that are there
#    but lack a package are a plain failure.
sysroot() { # name, sources lines...: runs scripts/sysroot.sh armhf, its status in sysroot_status
  local name=$1
  shift
  sysroot_status=0
  APT_CONFIG=$(apt_config "$name" "$@") LEDWALL_SYSROOTS=$work/$name/sysroots \
    scripts/sysroot.sh armhf >"$work/$name.out" 2>"$work/$name.err" || sysroot_status=$?
  tail -n 1 "$work/$name.err" >"$work/$name.reason"
}
sysroot broken "$broken"
check "broken lists: the sysroot is out of reach (exit 3)" test "$sysroot_status" -eq 3
check "broken lists: the reason names the index" \
  has "$work/broken.reason" "sysroot: armhf: unavailable: its package lists could not be had (file:$work/missing ./"
check "broken lists: no sysroot is made" test ! -e "$work/broken/sysroots/armhf/root"

sysroot other # no sources at all
check "no lists for the architecture: the sysroot is out of reach (exit 3)" test "$sysroot_status" -eq 3
check "no lists for the architecture: the reason says so" \
  has "$work/other.reason" "sysroot: armhf: unavailable: this machine's package sources give no package list for armhf"

sysroot lacking "$good"
check "lists without the board's packages: a failure (exit 1), not out of reach" test "$sysroot_status" -eq 1
check "lists without the board's packages: apt's reason" \
  has "$work/lacking.reason" "sysroot: armhf: the packages cannot be resolved: Unable to locate package libgd-dev"

if [ "$failures" -gt 0 ]; then
  echo "mirror_failures_test: $failures failed; what the checks printed:"
  cat "$work/checks.log" "$work"/*.err
  exit 1
fi
