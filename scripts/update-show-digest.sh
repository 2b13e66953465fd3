#!/usr/bin/env bash
# Regenerates the committed digests of every frame of the whole show, for a
# change that means to change the show's frames: the commit that changes
# them carries the new digests and says why.
#
#   scripts/update-show-digest.sh
#
#   tests/show_digest.golden        every build but arm64's (amd64, armhf)
#   tests/show_digest.arm64.golden  arm64's, whose libgd rounds differently
#
# It plays the whole show in virtual time, as the whole-show test does (its
# other checks must pass), natively and for arm64 under emulation (the
# cross build is made or brought up to date first), and says how many frames
# changed.
set -euo pipefail
cd "$(dirname "$0")/.."
filter=WholeShow.PlaysEverySceneInOrderAndEndsWithTheSoundtrack

update() { # build folder, committed digest
  local changed
  changed=$(diff "$2" "$1/tests/show_digest.txt" | grep -c '^>' || true)
  cp "$1/tests/show_digest.txt" "$2"
  echo "update-show-digest: $2: $(wc -l <"$2") frames, $changed changed"
}
failed() {
  echo "update-show-digest: the whole show failed its checks in $1; the committed digests stay as they are" >&2
  exit 1
}

scripts/build.sh whole_show_test >/dev/null
ctest --test-dir build -R "^$filter\$" --output-on-failure >/dev/null || failed build
scripts/cross-build.sh arm64 whole_show_test >/dev/null
ctest --test-dir build-arm64 -R "^$filter\$" --output-on-failure >/dev/null || failed build-arm64
update build tests/show_digest.golden
update build-arm64 tests/show_digest.arm64.golden
