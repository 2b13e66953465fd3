#!/usr/bin/env bash
# The native build on Debian 13 (trixie), not part of the gate: makes a
# Debian 13 amd64 root with mmdebstrap (kept for the next run), copies this
# working tree's committed files into it, and there runs the README's set-up
# (scripts/setup.sh), the native build and every test of the native suite but
# the real-time show (no emulation: that is the gate's, from this machine).
#
#   scripts/debian13-check.sh [ROOT]     (default /var/tmp/ledwall-debian13)
#
# Needs root. Ends with what passed and how long each step took; its exit
# status is the suite's. The log of each step is in ROOT/ledwall/build-logs.
set -euo pipefail
cd "$(dirname "$0")/.."
. scripts/apt.sh
root=${1:-/var/tmp/ledwall-debian13}
started=$SECONDS
step() { echo "debian13: $1 after $(((SECONDS - started) / 60)) min $(((SECONDS - started) % 60)) s"; }
[ "$(id -u)" = 0 ] || { echo "debian13: needs root (mmdebstrap, chroot)" >&2; exit 2; }

if ! command -v mmdebstrap >/dev/null; then
  apt_update debian13
  apt_install debian13 -- mmdebstrap || exit 1
fi
if [ ! -x "$root/usr/bin/apt-get" ]; then
  rm -rf "$root"
  mmdebstrap --variant=minbase --include=ca-certificates,git trixie "$root" \
    "deb http://deb.debian.org/debian trixie main" \
    "deb http://deb.debian.org/debian trixie-updates main" \
    "deb http://deb.debian.org/debian-security trixie-security main"
  step "Debian 13 root made in $root"
fi

# The committed files of this tree, fresh each run (builds inside are kept).
work=$root/ledwall
mkdir -p "$work"
git ls-files -z | tar --null -T - -cf - | tar -xf - -C "$work"
mkdir -p "$work/build-logs"

mounts=()
cleanup() {
  for ((i = ${#mounts[@]} - 1; i >= 0; i--)); do umount -l "${mounts[i]}" 2>/dev/null || true; done
}
trap cleanup EXIT
for fs in proc sys dev dev/pts; do
  mount --bind "/$fs" "$root/$fs"
  mounts+=("$root/$fs")
done
cp /etc/resolv.conf "$root/etc/resolv.conf" 2>/dev/null || true
inside() { chroot "$root" /usr/bin/env -i PATH=/usr/sbin:/usr/bin:/sbin:/bin HOME=/root LANG=C.UTF-8 bash -c "cd /ledwall && $1"; }

status=0
inside "scripts/setup.sh" >"$work/build-logs/setup.log" 2>&1 || status=$?
step "set-up ended with $status (build-logs/setup.log)"
[ "$status" = 0 ] || { tail -20 "$work/build-logs/setup.log"; exit "$status"; }
inside "scripts/build.sh" >"$work/build-logs/build.log" 2>&1 || status=$?
step "build ended with $status (build-logs/build.log)"
grep -E 'warning:|error:' "$work/build-logs/build.log" | sort -u | head -20 || true
[ "$status" = 0 ] || { tail -30 "$work/build-logs/build.log"; exit "$status"; }
# The suite's sound server is stopped after it, as the gate stops its own.
inside 'eval "$(scripts/headless-sound.sh start)" && trap "scripts/headless-sound.sh stop" EXIT &&
  ctest --test-dir build --output-on-failure -j"$(nproc)" -LE e2e' \
  >"$work/build-logs/tests.log" 2>&1 || status=$?
step "native suite ended with $status (build-logs/tests.log)"
grep -E 'tests passed|\(Failed\)|\(SEGFAULT\)|\(Timeout\)|Not Run' "$work/build-logs/tests.log" || true
exit "$status"
