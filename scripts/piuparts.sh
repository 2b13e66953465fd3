#!/usr/bin/env bash
# Checks the amd64 package with Debian's piuparts: in a fresh Debian 12
# chroot it installs the package with its dependencies, removes and purges
# it, and fails on anything the package leaves behind, changes or breaks
# (files, users, running processes, maintainer script errors).
#
#   scripts/piuparts.sh [PACKAGE.deb]
#
# PACKAGE.deb defaults to build-package/packages/ledwall-demo_*_amd64.deb
# (scripts/package.sh amd64). Needs root and piuparts (installed from Debian
# when missing). The chroot comes from this machine's apt sources; its base,
# made by piuparts at the first run, is kept in
# /var/tmp/ledwall-piuparts-base.tgz for the next ones. piuparts' log is
# build-package/piuparts.log.
set -euo pipefail
cd "$(dirname "$0")/.."
. scripts/apt.sh
deb=$(realpath "${1:-$(ls build-package/packages/ledwall-demo_*_amd64.deb 2>/dev/null | head -1)}")
base=/var/tmp/ledwall-piuparts-base.tgz
log=build-package/piuparts.log

[ "$(id -u)" -eq 0 ] || { echo "piuparts: piuparts needs root" >&2; exit 2; }
if ! command -v piuparts >/dev/null; then
  apt_update piuparts
  apt_install piuparts -- piuparts || exit 1
fi

# This machine's Debian 12 sources, as the chroot's: the first one with the
# release itself is the mirror, the others (updates, security) come along.
sources=/etc/apt/sources.list.d/debian.sources
mirror=
extra=()
while read -r uri suite; do
  if [ "$suite" = bookworm ] && [ -z "$mirror" ]; then
    mirror=$uri
  else
    extra+=(--extra-repo="deb $uri $suite main")
  fi
done < <(awk '/^URIs:/ { uri = $2 } /^Suites:/ { for (i = 2; i <= NF; i++) print uri, $i } /^$/ { uri = "" }' "$sources")
[ -n "$mirror" ] || { echo "piuparts: no bookworm source in $sources" >&2; exit 2; }

if [ -s "$base" ]; then
  chroot_from=(--basetgz="$base")
else
  chroot_from=(--save="$base")
fi
mkdir -p "$(dirname "$log")"
status=0
nice -n 19 piuparts --distribution=bookworm --mirror="$mirror" ${extra[@]+"${extra[@]}"} \
  "${chroot_from[@]}" --log-file="$log" "$deb" >/dev/null 2>&1 || status=$?
if [ $status -eq 0 ]; then
  echo "piuparts: PASS: $(basename "$deb") installs, removes and purges cleanly ($log)"
else
  # Its verdict and the lines that say what went wrong.
  grep -E '(ERROR|FAIL|WARN)' "$log" | tail -40 >&2 || tail -40 "$log" >&2
  echo "piuparts: FAIL: $(basename "$deb") (status $status; the whole log: $log)" >&2
fi
exit $status
