#!/usr/bin/env bash
# Installs the show's Debian package on this machine the way a board goes
# through it, checking at each step:
#
#   - an older build (PACKAGE.deb with its version lowered) installs where an
#     admin has made a group `ledwall` of their own (no user of that name);
#   - the installed show plays into the simulator as the admin's user
#     `ledwall`, and goes on playing while PACKAGE.deb is installed over it;
#   - what the package put where; the installed wiring test through the
#     installed bridge into the simulator;
#   - the units enabled, then the package removed: no enabling left, the
#     settings and the bridge's state kept;
#   - the package purged while the show still plays: nothing of it left, and
#     the admin's user and group untouched.
#
#   tests/package_install_test.sh PACKAGE.deb
#
# Needs root (it installs with apt; the package's dependencies come from
# Debian) and the native build's simulator (build/tools/ledsim/ledsim). It
# refuses to run where the package is installed already, to leave an
# installation it did not make alone. The `ledwall` user and group it makes
# (where none is there) go again at its end. This machine runs no systemd:
# the services themselves are checked by scripts/service-check.sh. Says PASS
# or FAIL for each check and exits 1 when one failed.
set -euo pipefail
cd "$(dirname "$0")/.."
. scripts/simulator.sh
. tests/support/older_package.sh
deb=$(realpath "${1:?usage: tests/package_install_test.sh PACKAGE.deb}")
name=ledwall-demo
version=$(dpkg-deb -f "$deb" Version)
work=$(mktemp -d)
simulator=
bridge=
show=
made_group=
made_user=
made_private=
made_state=
finish() {
  local pid
  for pid in "$show" "$simulator" "$bridge"; do
    if [ -n "$pid" ]; then kill "$pid" 2>/dev/null || true; wait "$pid" 2>/dev/null || true; fi
  done
  # A failed run does not leave the package behind either.
  if dpkg-query -W -f='${Status}' "$name" 2>/dev/null | grep -q -e 'install ok' -e 'config-files'; then
    DEBIAN_FRONTEND=noninteractive apt-get purge -y -q "$name" >/dev/null 2>&1 || true
  fi
  if [ -n "$made_user" ]; then userdel ledwall 2>/dev/null || true; fi
  if [ -n "$made_group" ]; then groupdel ledwall 2>/dev/null || true; fi
  if [ -n "$made_state" ]; then rm -rf /var/lib/private/ledwall-bridge /var/lib/ledwall-bridge; fi
  if [ -n "$made_private" ]; then rmdir /var/lib/private 2>/dev/null || true; fi
  scripts/headless-sound.sh stop "$work/sound" || true
  rm -rf "$work"
}

if [ "$(id -u)" -ne 0 ]; then
  echo "package_install_test: installing a package needs root" >&2
  rm -rf "$work"
  exit 2
fi
if dpkg-query -W -f='${Status}' "$name" 2>/dev/null | grep -q -e 'ok installed' -e 'config-files'; then
  echo "package_install_test: $name is installed on this machine already; purge it first" >&2
  rm -rf "$work"
  exit 2
fi
trap finish EXIT

. tests/support/checks.sh
installed_status() { dpkg-query -W -f='${db:Status-Abbrev}' "$name" 2>/dev/null | tr -d " " || true; }
apt() { env DEBIAN_FRONTEND=noninteractive apt-get -y -q "$@"; }
# Account names, but the admin's `ledwall`: the package must add none.
accounts() { { getent passwd | cut -d: -f1; getent group | sed 's/:.*/ (group)/'; } | grep -v '^ledwall\( (group)\)\?$' | sort; }
# The processes that run an installed program (also after an upgrade took
# it away from under them), by their command lines: builds elsewhere on this
# machine run programs of the same names.
installed_runs() { pgrep -d ' ' -f "^/usr/bin/$1( |\$)" || true; }
enable_links() { ls /etc/systemd/system/*.wants/ledwall-demo.service /etc/systemd/system/*.wants/ledwall-bridge.service 2>/dev/null || true; }

# The admin's group, made before the package ever came (an admin's user of
# that name comes later: both states must configure).
if ! getent group ledwall >/dev/null; then
  groupadd --system ledwall
  made_group=1
fi
admin_group=$(getent group ledwall | cut -d: -f3)
accounts >"$work/accounts-before"

# An older build first.
older=$work/${name}_older.deb
older_version=$(older_package "$deb" "$older")
check "apt installs an older build ($older_version) where an admin's ledwall group exists" apt install "$older"
check "the older build is configured" test "$(installed_status)" = ii
check "the package starts neither the show nor the bridge" \
  test -z "$(installed_runs ledwall-demo)$(installed_runs ledwall-bridge)"

# The admin's user, which the show is then played as. Its sound goes to a
# private sound server through a socket of its own that takes any local
# client (the server's usual one takes only its own user's).
if ! getent passwd ledwall >/dev/null; then
  useradd --system --gid ledwall --home-dir /nonexistent --no-create-home --shell /usr/sbin/nologin ledwall
  made_user=1
fi
admin_user=$(id -u ledwall)
chmod 711 "$work"
install -d -m 755 "$work/open"
eval "$(scripts/headless-sound.sh start "$work/sound" --private)"
pactl load-module module-native-protocol-unix auth-anonymous=1 socket="$work/open/native" >/dev/null
start_simulator "$work/ledsim.log" 127.0.0.1:0 --log "$work/frames.log"
setpriv --reuid=ledwall --regid=ledwall --init-groups \
  env HOME=/nonexistent OPC="$simulator_opc" PULSE_SERVER="unix:$work/open/native" \
  /usr/bin/ledwall-demo >"$work/demo.log" 2>&1 &
show=$!
for _ in $(seq 50); do
  grep -q '^[0-9]' "$work/frames.log" 2>/dev/null && break
  sleep 0.1
done
cat "$work/demo.log" >>"$work/checks.log"
check "the installed show plays into the simulator as the admin's user ledwall" \
  sh -c "grep -q '^[0-9]' '$work/frames.log' && test \"\$(ps -o user= -p $show)\" = ledwall"

# The upgrade, while it plays.
check "apt upgrades to $(basename "$deb") while the show plays" apt install "$deb"
check "version $version is configured" \
  test "$(dpkg-query -W -f='${db:Status-Abbrev}${Version}' "$name")" = "ii $version"
check "the show goes on playing through the upgrade" kill -0 "$show"
check "the package starts neither another show nor the bridge" \
  test "$(installed_runs ledwall-demo)/$(installed_runs ledwall-bridge)" = "$show/"
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
check "the copyright file puts the code under MIT's licence and the pictures and music under CC BY 4.0" \
  awk -v RS= '/^Files: \*\n/ && /\nLicense: Expat/ {code=1} /^Files: src\/assets\/\*/ && /\nLicense: CC-BY-4.0/ {art=1}
              END {exit !(code && art)}' /usr/share/doc/$name/copyright
check "the settings files are conffiles" \
  sh -c "dpkg-query -W -f='\${Conffiles}' $name | grep -q '^ /etc/default/ledwall-demo ' &&
         dpkg-query -W -f='\${Conffiles}' $name | grep -q '^ /etc/default/ledwall-bridge '"
check "the settings file sets OPC and explains ALSA_CARD" \
  sh -c 'grep -q "^OPC=" /etc/default/ledwall-demo && grep -q "ALSA_CARD" /etc/default/ledwall-demo'
check "the bridge's settings leave BRIDGE_TO empty, brightness 100, no options" \
  sh -c 'grep -qx "BRIDGE_TO=" /etc/default/ledwall-bridge && grep -qx "BRIDGE_BRIGHTNESS=100" /etc/default/ledwall-bridge &&
         grep -qx "BRIDGE_OPTIONS=" /etc/default/ledwall-bridge'
# Each line as written, ${X} and $X included (systemd expands them).
unit_says() { local line; for line in "${@:2}"; do grep -qxF -- "$line" "$1" || return 1; done; }
unit=/lib/systemd/system/ledwall-demo.service
check "the unit is $unit" test -s "$unit"
check "the unit reads /etc/default/ledwall-demo and runs /usr/bin/ledwall-demo as a user of its own in the audio group" \
  unit_says "$unit" 'EnvironmentFile=-/etc/default/ledwall-demo' 'ExecStart=/usr/bin/ledwall-demo' \
  'DynamicUser=yes' 'SupplementaryGroups=audio'
bridge_unit=/lib/systemd/system/ledwall-bridge.service
check "the bridge's unit is $bridge_unit" test -s "$bridge_unit"
check "the bridge's unit reads /etc/default/ledwall-bridge and runs the bridge as a user of its own before the show" \
  unit_says "$bridge_unit" 'EnvironmentFile=-/etc/default/ledwall-bridge' \
  'ExecStart=/usr/bin/ledwall-bridge --to "${BRIDGE_TO}" --brightness ${BRIDGE_BRIGHTNESS} $BRIDGE_OPTIONS' \
  'DynamicUser=yes' 'StateDirectory=ledwall-bridge' 'Before=ledwall-demo.service'
if command -v systemd-analyze >/dev/null && command -v systemctl >/dev/null; then
  for u in "$unit" "$bridge_unit"; do
    check "systemd-analyze verify finds nothing wrong with $(basename "$u")" \
      sh -c "systemd-analyze verify $u 2>&1 | tee /dev/stderr | { ! grep -q .; }"
    # The rating without a running systemd: the unit's file as it is.
    exposure=$(systemd-analyze security --offline=true --no-pager "$u" 2>&1 |
      sed -n 's/.*Overall exposure level for [^:]*: \([0-9.]*\).*/\1/p')
    check "$(basename "$u") is sandboxed: exposure ${exposure:-unknown} of 10, at most 2.0" \
      awk -v e="${exposure:-99}" 'BEGIN { exit !(e <= 2.0) }'
  done
  check "the units are not enabled" \
    sh -c "test \"\$(systemctl is-enabled ledwall-demo.service ledwall-bridge.service | sort -u)\" = disabled"
else
  echo "SKIP: systemd-analyze verify and security, and the units' enabled state (no systemd on this machine)"
fi

# The installed wiring test through the installed bridge into the simulator,
# which takes the wall's own LED order (order=wiring): each row it lights
# arrives whole and in its place. The bridge listens on a port picked at
# random, another one if that was taken (it then ends at once with 1).
simulator_show=$simulator
start_simulator "$work/ledsim-bridged.log" 127.0.0.1:0 --log "$work/bridged.log"
simulator_bridged=$simulator
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
kill "$simulator_bridged" 2>/dev/null || true
wait "$simulator_bridged" 2>/dev/null || true
simulator=$simulator_show
rows=0
for row in $(seq 0 15); do
  black_above=$((row * 32)) black_below=$(((15 - row) * 32))
  if grep -qE "^[0-9]+ [0-9]+ (000000){$black_above}(ffffff){32}(000000){$black_below}\$" "$work/bridged.log"; then
    rows=$((rows + 1))
  fi
done
check "the wiring test's white rows reach the simulator through the bridge ($rows of 16)" test "$rows" -eq 16

# Enabled as the board guide says, with the state systemd makes for the
# bridge's service when it runs (DynamicUser=: the folder in
# /var/lib/private, a link to it in /var/lib), then removed.
if command -v systemctl >/dev/null; then
  check "systemctl enable ledwall-demo" systemctl enable ledwall-demo.service
  check "systemctl enable ledwall-bridge" systemctl enable ledwall-bridge.service
  check "the units are enabled" test -n "$(enable_links)"
fi
if [ ! -d /var/lib/private ]; then
  install -d -m 700 /var/lib/private
  made_private=1
fi
made_state=1
install -d -m 700 /var/lib/private/ledwall-bridge
echo 6c656477-616c-4c20-8272-696467652121 >/var/lib/private/ledwall-bridge/cid
ln -sfn private/ledwall-bridge /var/lib/ledwall-bridge
check "apt removes the package while the show plays" apt remove "$name"
check "dpkg keeps only its settings" test "$(installed_status)" = rc
check "its programs are gone" test ! -e /usr/bin/ledwall-demo -a ! -e /usr/bin/ledwall-bridge -a ! -e "$unit"
check "no enabling of the units is left ($(enable_links | tr '\n' ' '))" test -z "$(enable_links)"
check "the settings are kept" test -s /etc/default/ledwall-demo -a -s /etc/default/ledwall-bridge
check "the bridge's state is kept" test -s /var/lib/ledwall-bridge/cid

# Purged while the show (the removed program, still running) plays as the
# admin's user.
check "the show still plays" kill -0 "$show"
check "apt purges the package while the show plays as the admin's user" apt purge "$name"
check "the show plays on" kill -0 "$show"
check "dpkg no longer knows the package" test -z "$(installed_status)"
left=()
while read -r path; do
  [ -e "$path" ] || [ -L "$path" ] || continue
  # The system's folders it installed into stay; its own folders do not.
  case $path in */ledwall-demo | */ledwall-bridge) ;; *) [ -d "$path" ] && continue ;; esac
  left+=("$path")
done <"$work/files"
check "none of the package's files is left (${left[*]:-none})" test ${#left[@]} -eq 0
check "no enabling of the units, nor its record, is left" \
  sh -c "test -z '$(enable_links)' && ! ls /var/lib/systemd/deb-systemd-helper-enabled/ledwall-* 2>/dev/null"
check "the bridge's state is gone" test ! -e /var/lib/ledwall-bridge -a ! -L /var/lib/ledwall-bridge -a ! -e /var/lib/private/ledwall-bridge
check "the admin's user ledwall is still there, as it was" \
  test "$(id -u ledwall 2>/dev/null):$(getent group ledwall | cut -d: -f3)" = "$admin_user:$admin_group"
accounts >"$work/accounts-after"
check "the package made no user or group ($(comm -13 "$work/accounts-before" "$work/accounts-after" | tr '\n' ' '))" \
  cmp -s "$work/accounts-before" "$work/accounts-after"

kill "$show" 2>/dev/null || true
wait "$show" 2>/dev/null || true
show=
kill "$simulator" 2>/dev/null || true
wait "$simulator" 2>/dev/null || true
simulator=
cat "$work/demo.log" >>"$work/checks.log"
frames=$(grep -c '^[0-9]' "$work/frames.log" 2>/dev/null || true)
check "frames from the installed show reached the simulator all along ($frames)" test "${frames:-0}" -ge 250

if [ $failures -gt 0 ]; then
  echo "package_install_test: $failures checks failed; their output:" >&2
  cat "$work/checks.log" >&2
  exit 1
fi
echo "package_install_test: all checks passed"
