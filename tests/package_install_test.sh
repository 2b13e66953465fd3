#!/usr/bin/env bash
# Installs the show's Debian package on this machine, checks what it put
# where, plays the installed show into the simulator for a few seconds, then
# purges the package and checks that nothing it installed is left:
#
#   tests/package_install_test.sh PACKAGE.deb
#
# Needs root (it installs with apt; the package's dependencies come from
# Debian) and the native build's simulator (build/tools/ledsim/ledsim). It
# refuses to run where the package is installed already, to leave an
# installation it did not make alone. Says PASS or FAIL for each check and
# exits 1 when one failed.
set -euo pipefail
cd "$(dirname "$0")/.."
. scripts/simulator.sh
deb=$(realpath "${1:?usage: tests/package_install_test.sh PACKAGE.deb}")
name=ledwall-demo
version=$(dpkg-deb -f "$deb" Version)
work=$(mktemp -d)
simulator=
finish() {
  if [ -n "$simulator" ]; then kill "$simulator" 2>/dev/null || true; fi
  # A failed run does not leave the package behind either.
  if dpkg-query -W -f='${Status}' "$name" 2>/dev/null | grep -q 'install ok'; then
    DEBIAN_FRONTEND=noninteractive apt-get purge -y -q "$name" >/dev/null 2>&1 || true
  fi
  rm -rf "$work"
}
trap finish EXIT

. tests/support/checks.sh
installed_status() { dpkg-query -W -f='${db:Status-Abbrev}' "$name" 2>/dev/null || true; }

if [ "$(id -u)" -ne 0 ]; then
  echo "package_install_test: installing a package needs root" >&2
  trap - EXIT
  rm -rf "$work"
  exit 2
fi
if dpkg-query -W -f='${Status}' "$name" 2>/dev/null | grep -q 'ok installed'; then
  echo "package_install_test: $name is installed on this machine already; purge it first" >&2
  trap - EXIT
  rm -rf "$work"
  exit 2
fi

# Install.
check "apt installs $(basename "$deb")" env DEBIAN_FRONTEND=noninteractive apt-get install -y -q "$deb"
dpkg-query -L "$name" >"$work/files" 2>/dev/null || true

# Files, in their places.
check "the show is /usr/bin/ledwall-demo" test -x /usr/bin/ledwall-demo
check "the wiring test is /usr/bin/ledwall-wiring-test" test -x /usr/bin/ledwall-wiring-test
check "the installed show says its version, $version" \
  test "$(/usr/bin/ledwall-demo --version)" = "ledwall-demo $version"
check "the wiring test answers --help" /usr/bin/ledwall-wiring-test --help
check "a manual page for each program" \
  test -s /usr/share/man/man1/ledwall-demo.1.gz -a -s /usr/share/man/man1/ledwall-wiring-test.1.gz
check "the settings file is a conffile" \
  sh -c "dpkg-query -W -f='\${Conffiles}' $name | grep -q '^ /etc/default/ledwall-demo '"
check "the settings file sets OPC and explains ALSA_CARD" \
  sh -c 'grep -q "^OPC=" /etc/default/ledwall-demo && grep -q "ALSA_CARD" /etc/default/ledwall-demo'
unit=/lib/systemd/system/ledwall-demo.service
check "the unit is $unit" test -s "$unit"
check "the unit reads /etc/default/ledwall-demo and runs /usr/bin/ledwall-demo as ledwall" \
  sh -c "grep -qx 'EnvironmentFile=-/etc/default/ledwall-demo' $unit && grep -qx 'ExecStart=/usr/bin/ledwall-demo' $unit && grep -qx 'User=ledwall' $unit"
if command -v systemd-analyze >/dev/null && command -v systemctl >/dev/null; then
  check "systemd-analyze verify finds nothing wrong with the unit" \
    sh -c "systemd-analyze verify $unit 2>&1 | tee /dev/stderr | { ! grep -q .; }"
  check "the unit is not enabled" sh -c "test \"\$(systemctl is-enabled ledwall-demo.service)\" = disabled"
else
  echo "SKIP: systemd-analyze verify and the unit's enabled state (no systemd on this machine)"
fi
check "the show is not started by the package" sh -c '! pgrep -x ledwall-demo'

# The service's user.
check "a system user ledwall" sh -c 'uid=$(getent passwd ledwall | cut -d: -f3) && [ "$uid" -lt 1000 ]'
check "ledwall is in the audio group" sh -c 'id -nG ledwall | tr " " "\n" | grep -qx audio'
check "ledwall cannot log in" sh -c 'getent passwd ledwall | cut -d: -f7 | grep -qx /usr/sbin/nologin'

# The installed show plays into the simulator for a few seconds.
eval "$(scripts/headless-sound.sh start)"
start_simulator "$work/ledsim.log" 127.0.0.1:0 --log "$work/frames.log"
OPC=$simulator_opc timeout 6 /usr/bin/ledwall-demo >"$work/demo.log" 2>&1 || true
sleep 0.5
kill "$simulator" 2>/dev/null || true
wait "$simulator" 2>/dev/null || true
simulator=
frames=$(grep -c '^[0-9]' "$work/frames.log" 2>/dev/null || true)
check "frames from the installed show reach the simulator ($frames in 6 s)" test "${frames:-0}" -ge 100

# Enabled as the board guide says, then purged: nothing of it is left.
if command -v systemctl >/dev/null; then
  check "systemctl enable ledwall-demo" systemctl enable ledwall-demo.service
fi
check "apt purges the package" env DEBIAN_FRONTEND=noninteractive apt-get purge -y -q "$name"
check "dpkg no longer knows the package" test -z "$(installed_status)"
left=()
while read -r path; do
  [ -e "$path" ] || [ -L "$path" ] || continue
  # The system's folders it installed into stay; its own folders do not.
  case $path in */ledwall-demo) ;; *) [ -d "$path" ] && continue ;; esac
  left+=("$path")
done <"$work/files"
check "none of the package's files is left (${left[*]:-none})" test ${#left[@]} -eq 0
check "the user ledwall is gone" sh -c '! getent passwd ledwall'
check "the group ledwall is gone" sh -c '! getent group ledwall'
check "no enabling of the unit is left" \
  sh -c '! ls /etc/systemd/system/*.wants/ledwall-demo.service 2>/dev/null | grep -q .'

if [ $failures -gt 0 ]; then
  echo "package_install_test: $failures checks failed; their output:" >&2
  cat "$work/checks.log" >&2
  exit 1
fi
echo "package_install_test: all checks passed"
