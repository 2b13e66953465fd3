#!/usr/bin/env bash
# Installs the show's Debian package on this machine, checks what it put
# where, plays the installed show into the simulator for a few seconds, sends
# the installed wiring test through the installed bridge into the simulator,
# then purges the package and checks that nothing it installed is left:
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
bridge=
own_sound=
finish() {
  if [ -n "$own_sound" ]; then scripts/headless-sound.sh stop; fi
  if [ -n "$simulator" ]; then kill "$simulator" 2>/dev/null || true; fi
  if [ -n "$bridge" ]; then kill "$bridge" 2>/dev/null || true; fi
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
check "the bridge is /usr/bin/ledwall-bridge" test -x /usr/bin/ledwall-bridge
check "the installed bridge says its version, $version" \
  test "$(/usr/bin/ledwall-bridge --version)" = "ledwall-bridge $version"
check "the bridge answers --help" /usr/bin/ledwall-bridge --help
for program in ledwall-demo ledwall-wiring-test ledwall-bridge; do
  check "$program is stripped" sh -c "! readelf -S /usr/bin/$program | grep -q -e '\.symtab' -e '\.debug_'"
done
check "a manual page for each program" \
  test -s /usr/share/man/man1/ledwall-demo.1.gz -a -s /usr/share/man/man1/ledwall-wiring-test.1.gz \
  -a -s /usr/share/man/man1/ledwall-bridge.1.gz
check "the settings files are conffiles" \
  sh -c "dpkg-query -W -f='\${Conffiles}' $name | grep -q '^ /etc/default/ledwall-demo ' &&
         dpkg-query -W -f='\${Conffiles}' $name | grep -q '^ /etc/default/ledwall-bridge '"
check "the settings file sets OPC and explains ALSA_CARD" \
  sh -c 'grep -q "^OPC=" /etc/default/ledwall-demo && grep -q "ALSA_CARD" /etc/default/ledwall-demo'
check "the bridge's settings leave BRIDGE_TO empty, brightness 100, no options" \
  sh -c 'grep -qx "BRIDGE_TO=" /etc/default/ledwall-bridge && grep -qx "BRIDGE_BRIGHTNESS=100" /etc/default/ledwall-bridge &&
         grep -qx "BRIDGE_OPTIONS=" /etc/default/ledwall-bridge'
unit=/lib/systemd/system/ledwall-demo.service
check "the unit is $unit" test -s "$unit"
check "the unit reads /etc/default/ledwall-demo and runs /usr/bin/ledwall-demo as ledwall" \
  sh -c "grep -qx 'EnvironmentFile=-/etc/default/ledwall-demo' $unit && grep -qx 'ExecStart=/usr/bin/ledwall-demo' $unit && grep -qx 'User=ledwall' $unit"
bridge_unit=/lib/systemd/system/ledwall-bridge.service
check "the bridge's unit is $bridge_unit" test -s "$bridge_unit"
# Each line as written, ${X} and $X included (systemd expands them).
unit_says() { local line; for line in "${@:2}"; do grep -qxF -- "$line" "$1" || return 1; done; }
check "the bridge's unit reads /etc/default/ledwall-bridge and runs the bridge as ledwall before the show" \
  unit_says "$bridge_unit" 'EnvironmentFile=-/etc/default/ledwall-bridge' \
  'ExecStart=/usr/bin/ledwall-bridge --to "${BRIDGE_TO}" --brightness ${BRIDGE_BRIGHTNESS} $BRIDGE_OPTIONS' \
  'User=ledwall' 'StateDirectory=ledwall-bridge' 'Before=ledwall-demo.service'
if command -v systemd-analyze >/dev/null && command -v systemctl >/dev/null; then
  for u in "$unit" "$bridge_unit"; do
    check "systemd-analyze verify finds nothing wrong with $(basename "$u")" \
      sh -c "systemd-analyze verify $u 2>&1 | tee /dev/stderr | { ! grep -q .; }"
  done
  check "the units are not enabled" \
    sh -c "test \"\$(systemctl is-enabled ledwall-demo.service ledwall-bridge.service | sort -u)\" = disabled"
else
  echo "SKIP: systemd-analyze verify and the units' enabled state (no systemd on this machine)"
fi
check "the show and the bridge are not started by the package" sh -c '! pgrep -x ledwall-demo && ! pgrep -x ledwall-bridge'

# The service's user.
check "a system user ledwall" sh -c 'uid=$(getent passwd ledwall | cut -d: -f3) && [ "$uid" -lt 1000 ]'
check "ledwall is in the audio group" sh -c 'id -nG ledwall | tr " " "\n" | grep -qx audio'
check "ledwall cannot log in" sh -c 'getent passwd ledwall | cut -d: -f7 | grep -qx /usr/sbin/nologin'

# The installed show plays into the simulator for a few seconds.
# The caller's headless sound server, or one of the test's own.
[ -n "${PULSE_SERVER:-}" ] || own_sound=yes
eval "$(scripts/headless-sound.sh start)"
start_simulator "$work/ledsim.log" 127.0.0.1:0 --log "$work/frames.log"
OPC=$simulator_opc timeout 6 /usr/bin/ledwall-demo >"$work/demo.log" 2>&1 || true
sleep 0.5
kill "$simulator" 2>/dev/null || true
wait "$simulator" 2>/dev/null || true
simulator=
frames=$(grep -c '^[0-9]' "$work/frames.log" 2>/dev/null || true)
check "frames from the installed show reach the simulator ($frames in 6 s)" test "${frames:-0}" -ge 100

# The installed wiring test through the installed bridge into the simulator,
# which takes the wall's own LED order (order=wiring): each row it lights
# arrives whole and in its place. The bridge listens on a port picked at
# random, another one if that was taken (it then ends at once with 1).
start_simulator "$work/ledsim-bridged.log" 127.0.0.1:0 --log "$work/bridged.log"
for _ in 1 2 3 4 5; do
  bridge_port=$((20000 + RANDOM % 20000))
  /usr/bin/ledwall-bridge --listen "127.0.0.1:$bridge_port" --to "opc://$simulator_opc?order=wiring" \
    --idle-hold 1 >"$work/bridge.log" 2>&1 &
  bridge=$!
  sleep 0.5
  if kill -0 "$bridge" 2>/dev/null; then break; fi
  wait "$bridge" 2>/dev/null || true
  bridge=
done
[ -n "$bridge" ] || cat "$work/bridge.log" >>"$work/checks.log"
check "the installed bridge starts" test -n "$bridge"
if [ -n "$bridge" ]; then
  OPC=127.0.0.1:$bridge_port /usr/bin/ledwall-wiring-test --step-ms 200 >"$work/wiring.log" 2>&1 || true
  sleep 0.5
  kill -TERM "$bridge" 2>/dev/null || true
  bridge_status=0
  wait "$bridge" || bridge_status=$?
  bridge=
  check "the bridge ends with 0 on SIGTERM" test "$bridge_status" -eq 0
fi
kill "$simulator" 2>/dev/null || true
wait "$simulator" 2>/dev/null || true
simulator=
rows=0
for row in $(seq 0 15); do
  black_above=$((row * 32)) black_below=$(((15 - row) * 32))
  if grep -qE "^[0-9]+ [0-9]+ (000000){$black_above}(ffffff){32}(000000){$black_below}\$" "$work/bridged.log"; then
    rows=$((rows + 1))
  fi
done
check "the wiring test's white rows reach the simulator through the bridge ($rows of 16)" test "$rows" -eq 16

# Enabled as the board guide says, then purged: nothing of it is left.
if command -v systemctl >/dev/null; then
  check "systemctl enable ledwall-demo" systemctl enable ledwall-demo.service
  check "systemctl enable ledwall-bridge" systemctl enable ledwall-bridge.service
fi
# The state systemd makes for the bridge's service when it runs.
install -d -o ledwall -g ledwall /var/lib/ledwall-bridge
head -c 16 /dev/urandom >/var/lib/ledwall-bridge/cid
check "apt purges the package" env DEBIAN_FRONTEND=noninteractive apt-get purge -y -q "$name"
check "dpkg no longer knows the package" test -z "$(installed_status)"
left=()
while read -r path; do
  [ -e "$path" ] || [ -L "$path" ] || continue
  # The system's folders it installed into stay; its own folders do not.
  case $path in */ledwall-demo | */ledwall-bridge) ;; *) [ -d "$path" ] && continue ;; esac
  left+=("$path")
done <"$work/files"
check "none of the package's files is left (${left[*]:-none})" test ${#left[@]} -eq 0
check "the user ledwall is gone" sh -c '! getent passwd ledwall'
check "the group ledwall is gone" sh -c '! getent group ledwall'
check "no enabling of the units is left" \
  sh -c '! ls /etc/systemd/system/*.wants/ledwall-demo.service /etc/systemd/system/*.wants/ledwall-bridge.service 2>/dev/null | grep -q .'
check "the bridge's state is gone" test ! -e /var/lib/ledwall-bridge

if [ $failures -gt 0 ]; then
  echo "package_install_test: $failures checks failed; their output:" >&2
  cat "$work/checks.log" >&2
  exit 1
fi
echo "package_install_test: all checks passed"
