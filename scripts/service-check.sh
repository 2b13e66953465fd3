#!/usr/bin/env bash
# The package's services under a real systemd: a Debian 12 system booted in a
# container (systemd-nspawn, sharing this machine's network), the package
# installed there with apt, both services enabled and started, the show
# through the bridge into the simulator on this machine, the sandbox rated,
# then upgraded, stopped, removed and purged:
#
#   scripts/service-check.sh [PACKAGE.deb]
#
# PACKAGE.deb defaults to the amd64 package (scripts/package.sh amd64). Needs
# root, the native build's simulator (build/tools/ledsim/ledsim) and
# pulseaudio with pactl; systemd-nspawn (systemd-container) and mmdebstrap
# are installed from Debian when missing. The container's system is made
# once with mmdebstrap from this machine's apt sources and kept in
# /var/tmp/ledwall-service-root; each run boots a copy of it (--ephemeral),
# gone at the end. Sound: a private sound server here, whose socket for any
# local client is bound into the container, where ALSA's default plays into
# it (libasound2-plugins); the sound card the show's unit waits for is a
# device node that is never opened.
#
# Says PASS or FAIL for each check; exits 1 when one failed, 77 when the
# container cannot be made or booted here (with the reason).
set -euo pipefail
cd "$(dirname "$0")/.."
. scripts/apt.sh
. scripts/simulator.sh
. tests/support/older_package.sh
root=/var/tmp/ledwall-service-root
deb=$(realpath "${1:-$(ls build-package/packages/ledwall-demo_*_amd64.deb 2>/dev/null | head -1)}")
name=ledwall-demo
version=$(dpkg-deb -f "$deb" Version)

skip() {
  echo "service-check: SKIP: $*" >&2
  exit 77
}
[ "$(id -u)" -eq 0 ] || skip "booting a container needs root"
# Its own tools come from Debian when missing (the sound server's come with
# scripts/setup.sh).
missing=()
command -v systemd-nspawn >/dev/null || missing+=(systemd-container)
command -v mmdebstrap >/dev/null || missing+=(mmdebstrap)
if [ ${#missing[@]} -gt 0 ]; then
  apt_update service-check
  apt_install service-check -- "${missing[@]}" || skip "cannot install ${missing[*]}"
fi
for tool in nsenter pactl pulseaudio; do
  command -v "$tool" >/dev/null || skip "no $tool here (scripts/setup.sh installs it)"
done
[ -x "${LEDSIM:-build/tools/ledsim/ledsim}" ] || { echo "service-check: no simulator; build it: scripts/build.sh ledsim" >&2; exit 2; }

work=$(mktemp -d)
nspawn=
init=
simulator=
finish() {
  if [ -n "$init" ] && kill -0 "$init" 2>/dev/null; then
    nsenter -t "$init" -a systemctl poweroff >/dev/null 2>&1 || true
  fi
  if [ -n "$nspawn" ]; then
    for _ in $(seq 100); do kill -0 "$nspawn" 2>/dev/null || break; sleep 0.1; done
    kill "$nspawn" 2>/dev/null || true
    wait "$nspawn" 2>/dev/null || true
  fi
  if [ -n "$simulator" ]; then kill "$simulator" 2>/dev/null || true; fi
  scripts/headless-sound.sh stop "$work/sound" || true
  rm -rf "$work"
}
trap finish EXIT

# The container's system, made once: systemd, the package's libraries and
# ALSA's plugins. Two runs at once make it once.
make_root() {
  local depends
  # The package's dependencies by name, so that installing it needs no
  # package lists (none are kept).
  depends=$(dpkg-deb -f "$deb" Depends | tr ',' '\n' | sed 's/[[:space:]]*(.*//; s/|.*//; s/^[[:space:]]*//' | paste -sd, -)
  rm -rf "$root.new"
  echo "service-check: making the container's system in $root (once)" >&2
  nice -n 19 mmdebstrap --variant=minbase --include="systemd,systemd-sysv,dbus,libasound2-plugins,$depends" \
    bookworm "$root.new" /etc/apt/sources.list.d/debian.sources >"$work/mmdebstrap.log" 2>&1 ||
    { tail -20 "$work/mmdebstrap.log" >&2; return 1; }
  mv "$root.new" "$root"
}
exec 9>"$root.lock"
flock 9
if [ ! -d "$root" ]; then
  make_root || skip "mmdebstrap could not make the container's system (its messages above)"
fi
flock -u 9

. tests/support/checks.sh

# Sound: a private server here; its second socket takes any local client
# (the services' users are not the server's), in a folder bound into the
# container at /run/ledwall-sound.
eval "$(scripts/headless-sound.sh start "$work/sound" --private)"
install -d -m 755 "$work/open"
pactl load-module module-native-protocol-unix auth-anonymous=1 socket="$work/open/native" >/dev/null
# What the show's unit waits for before it starts: a playback device in
# /dev/snd (ALSA's major 116). ALSA's default in the container is the sound
# server, so it is never opened.
install -d -m 755 "$work/snd"
mknod -m 660 "$work/snd/pcmC0D0p" c 116 16
chgrp audio "$work/snd/pcmC0D0p"
install -d "$work/packages"
cp "$deb" "$work/packages/$name.deb"
older_version=$(older_package "$deb" "$work/packages/${name}_older.deb")

machine=ledwall-check-$$
systemd-nspawn --quiet -D "$root" --ephemeral --boot --register=no --keep-unit --machine="$machine" \
  --console=read-only --bind="$work/open:/run/ledwall-sound" --bind-ro="$work/packages:/mnt/packages" \
  --bind-ro="$work/snd:/dev/snd" </dev/null >"$work/container.log" 2>&1 &
nspawn=$!
# Its init: nspawn's child that runs systemd, up once systemctl answers.
for _ in $(seq 300); do
  kill -0 "$nspawn" 2>/dev/null || break
  init=$(pgrep -P "$nspawn" -x systemd || true)
  if [ -n "$init" ] && [ "$(nsenter -t "$init" -a systemctl is-system-running 2>/dev/null)" = running ]; then
    break
  fi
  sleep 0.1
done
state=$([ -n "$init" ] && nsenter -t "$init" -a systemctl is-system-running 2>/dev/null || true)
if [ "$state" != running ] && [ "$state" != degraded ]; then
  tail -20 "$work/container.log" >&2
  init=
  skip "the container did not boot (systemd says '${state:-nothing}'; nspawn's messages above)"
fi
echo "service-check: the container's systemd runs (PID $init here)"
inside() { nsenter -t "$init" -a "$@"; }
apt_inside() { inside env DEBIAN_FRONTEND=noninteractive apt-get -y -q "$@"; }
# apt needs no package lists while the dependencies are there; with a newer
# package that needs more, it fetches the lists once.
install_inside() { apt_inside install "$1" || { apt_inside update && apt_inside install "$1"; }; }
main_pid() { inside systemctl show -P MainPID "$1"; }
# Frames logged by the simulator so far.
frames() { grep -c '^[0-9]' "$work/frames.log" 2>/dev/null || true; }
# Waits up to 15 s for more frames than $1.
more_frames() {
  for _ in $(seq 150); do
    [ "$(frames)" -gt "$1" ] && return 0
    sleep 0.1
  done
  return 1
}
free_port() {
  local port
  while :; do
    port=$((20000 + RANDOM % 20000))
    ss -Htln "sport = :$port" | grep -q . || { echo "$port"; return; }
  done
}
inside cut -d: -f1 /etc/passwd /etc/group | sort >"$work/accounts-before"

# The older build first, set up as the board guide says: the show to the
# bridge by the name `localhost`, as the settings file has it (a minimal root
# has no /etc/hosts: Debian's usual one), the bridge to the simulator here.
# The bridge's state is where a build before DynamicUser= kept it, to be
# moved by systemd.
start_simulator "$work/ledsim.log" 127.0.0.1:0 --log "$work/frames.log"
bridge_port=$(free_port)
check "apt installs the older build ($older_version) in the container" \
  install_inside "/mnt/packages/${name}_older.deb"
check "the settings name the bridge and the simulator; ALSA plays into the sound server" \
  inside sh -c "sed -i 's/^OPC=localhost:.*/OPC=localhost:$bridge_port/' /etc/default/ledwall-demo &&
  grep -qx 'OPC=localhost:$bridge_port' /etc/default/ledwall-demo &&
  { test -e /etc/hosts || printf '127.0.0.1\tlocalhost\n::1\t\tlocalhost ip6-localhost ip6-loopback\n' >/etc/hosts; } &&
  sed -i 's|^BRIDGE_TO=.*|BRIDGE_TO=\"opc://$simulator_opc\"|; s|^BRIDGE_OPTIONS=.*|BRIDGE_OPTIONS=\"--listen 127.0.0.1:$bridge_port\"|' /etc/default/ledwall-bridge &&
  printf '%s\n' 'pcm.!default { type pulse server \"unix:/run/ledwall-sound/native\" }' \
    'ctl.!default { type pulse server \"unix:/run/ledwall-sound/native\" }' >/etc/asound.conf &&
  install -d -m 755 /var/lib/ledwall-bridge &&
  echo 6c656477-616c-4c20-8272-696467652121 >/var/lib/ledwall-bridge/cid"
check "the units are installed, neither enabled nor started" \
  sh -c "test \"\$(nsenter -t $init -a systemctl is-enabled ledwall-demo ledwall-bridge | sort -u)\" = disabled &&
         ! nsenter -t $init -a systemctl -q is-active ledwall-demo ledwall-bridge"
check "systemctl enable --now ledwall-bridge ledwall-demo" inside systemctl enable --now ledwall-bridge ledwall-demo
check "the show's frames reach the simulator through the bridge" more_frames 0
inside systemctl status --no-pager ledwall-bridge ledwall-demo >>"$work/checks.log" 2>&1 || true
check "both services run" inside systemctl -q is-active ledwall-bridge ledwall-demo
check "the show plays into the sound server" sh -c 'pactl list short sink-inputs | grep -q .'
demo_pid=$(main_pid ledwall-demo)
bridge_pid=$(main_pid ledwall-bridge)
# The sandbox as the kernel sees it: no capabilities, no new privileges, a
# user of its own, the show in the audio group (29 on Debian).
confined() { # PID
  local status
  status=$(inside cat "/proc/$1/status")
  echo "$status" >>"$work/checks.log"
  grep -qx 'NoNewPrivs:[[:space:]]*1' <<<"$status" && grep -qx 'CapBnd:[[:space:]]*0*' <<<"$status" &&
    grep -qx 'CapEff:[[:space:]]*0*' <<<"$status" && grep -q '^Seccomp:[[:space:]]*2' <<<"$status" &&
    [ "$(awk '/^Uid:/ { print $2 }' <<<"$status")" -ge 61184 ]
}
check "the show runs confined, as a user of its own" confined "$demo_pid"
check "the show's user is in the audio group" sh -c "nsenter -t $init -a cat /proc/$demo_pid/status | grep -q '^Groups:.*\b29\b'"
check "the bridge runs confined, as a user of its own" confined "$bridge_pid"
check "the bridge's state, with the earlier build's source id, is in /var/lib/private/ledwall-bridge" \
  inside sh -c 'test -L /var/lib/ledwall-bridge &&
    test "$(cat /var/lib/private/ledwall-bridge/cid)" = 6c656477-616c-4c20-8272-696467652121'
for unit in ledwall-demo ledwall-bridge; do
  inside systemd-analyze security --no-pager "$unit.service" >"$work/$unit.security" 2>&1 || true
  cat "$work/$unit.security" >>"$work/checks.log"
  exposure=$(sed -n 's/.*Overall exposure level for [^:]*: \([0-9.]*\).*/\1/p' "$work/$unit.security")
  echo "service-check: $unit.service: exposure ${exposure:-unknown}"
  check "$unit.service's exposure, ${exposure:-unknown}, is at most 2.0" \
    awk -v e="${exposure:-99}" 'BEGIN { exit !(e <= 2.0) }'
done

# The upgrade: the running services start again at once with the new
# programs, and the frames go on.
check "apt upgrades to $version in the container" install_inside "/mnt/packages/$name.deb"
check "the show was started again (PID $demo_pid before, $(main_pid ledwall-demo) now)" \
  sh -c "test \"\$(nsenter -t $init -a systemctl show -P MainPID ledwall-demo)\" -ne $demo_pid"
check "the bridge was started again (PID $bridge_pid before, $(main_pid ledwall-bridge) now)" \
  sh -c "test \"\$(nsenter -t $init -a systemctl show -P MainPID ledwall-bridge)\" -ne $bridge_pid"
count=$(frames)
check "the frames go on after the upgrade" more_frames "$count"
check "the bridge keeps its source id" \
  inside sh -c 'test "$(cat /var/lib/private/ledwall-bridge/cid)" = 6c656477-616c-4c20-8272-696467652121'

# Stopped, removed, purged.
check "systemctl stop ledwall-demo ledwall-bridge" inside systemctl stop ledwall-demo ledwall-bridge
check "both are stopped" sh -c "! nsenter -t $init -a systemctl -q is-active ledwall-demo ledwall-bridge"
check "apt removes the package" apt_inside remove "$name"
links() { inside sh -c 'ls /etc/systemd/system/*.wants/ledwall-* 2>/dev/null' || true; }
check "no enabling of the units is left ($(links | tr '\n' ' '))" test -z "$(links)"
check "systemd no longer knows the units" \
  sh -c "! nsenter -t $init -a systemctl cat ledwall-demo ledwall-bridge >/dev/null 2>&1"
check "apt purges the package" apt_inside purge "$name"
check "dpkg no longer knows the package" sh -c "! nsenter -t $init -a dpkg-query -W $name 2>/dev/null"
check "no state of the bridge is left" \
  inside sh -c '! test -e /var/lib/ledwall-bridge -o -L /var/lib/ledwall-bridge -o -e /var/lib/private/ledwall-bridge'
check "no settings are left" inside sh -c '! test -e /etc/default/ledwall-demo -o -e /etc/default/ledwall-bridge'
inside cut -d: -f1 /etc/passwd /etc/group | sort >"$work/accounts-after"
check "no user or group is left ($(comm -13 "$work/accounts-before" "$work/accounts-after" | tr '\n' ' '))" \
  cmp -s "$work/accounts-before" "$work/accounts-after"

if [ "$failures" -gt 0 ]; then
  echo "service-check: $failures checks failed; their output:" >&2
  cat "$work/checks.log" >&2
  inside journalctl --no-pager -u ledwall-demo -u ledwall-bridge >&2 || true
  exit 1
fi
echo "service-check: all checks passed"
