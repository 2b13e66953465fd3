# Sourced by the scripts that install or download Debian packages: apt-get
# against package mirrors that are sometimes briefly inconsistent (an index
# served truncated while the mirror syncs, a download that breaks off).
#
#   apt_update WHO [APT OPTIONS...]
#       updates the package lists, tried up to APT_TRIES times (default 3),
#       APT_PAUSE seconds apart (default 5), while an index fails. An index
#       that still fails is reported on stderr, one line each ("WHO: index
#       failed: INDEX: REASON"), and left out: it returns 0 whatever failed,
#       so that the lists that did come (or the ones from before) are used.
#       Sets `apt_failed_indexes` to those lines, or to nothing.
#   apt_install WHO [APT OPTIONS...] -- PACKAGES...
#       installs the packages (apt-get install, or whatever the options make
#       of it, --download-only for example) with their dependencies, tried as
#       often and as far apart. When all tries fail, each package is tried
#       alone, so that the others are not held up by it, and every package
#       that still cannot be had is named on stderr with the reason apt gave
#       ("WHO: cannot install PACKAGE: REASON"); returns 1 then.
# Both run `apt_get`: apt-get as root (through sudo for other users), or
# what the caller sets it to (apt-get as the user who runs it, for a
# private state of apt's); the messages it parses are apt's English ones.
# apt_install shows apt-get's output as it goes; apt_update only its failures.

APT_TRIES=${APT_TRIES:-3}
APT_PAUSE=${APT_PAUSE:-5}

apt_as_root() {
  if [ "$(id -u)" -eq 0 ]; then "$@"; else sudo "$@"; fi
}
apt_get=(apt_as_root env DEBIAN_FRONTEND=noninteractive LC_ALL=C apt-get)

# apt-get's "Err:N INDEX" line is followed by the reason, indented (and
# then by details, such as the hashes it expected, left out here). An index
# tried in several compressions fails once for each, and may come in the end
# ("Get:N" or "Hit:N" with the same N): only one that did not come counts,
# with its last reason.
apt_failed_index_lines() { # apt-get update's output
  awk 'match($0, /^(Err|Get|Hit):[0-9]+ /) {
         split(substr($0, 1, RLENGTH - 1), tag, ":"); id = tag[2]; fresh = 0
         if (tag[1] != "Err") { failed[id] = 0; next }
         if (!(id in name)) order[n++] = id
         name[id] = substr($0, RLENGTH + 1); reason[id] = "failed"; failed[id] = 1; fresh = 1; next }
       fresh && /^  / { r = $0; sub(/^ +/, "", r); reason[id] = r; fresh = 0; next }
       { fresh = 0 }
       END { for (i = 0; i < n; i++) if (failed[order[i]]) print name[order[i]] ": " reason[order[i]] }' <<<"$1"
}

# apt's own error lines, joined on one line, without the "E: " in front.
apt_errors() { # apt-get's output
  local errors
  errors=$(grep -E '^E: ' <<<"$1" | sed 's/^E: //' | paste -sd ';' | sed 's/;/; /g')
  echo "${errors:-apt-get failed without saying why}"
}

apt_update() {
  local who=$1 try out failed=
  shift
  apt_failed_indexes=
  for ((try = 1; try <= APT_TRIES; try++)); do
    if out=$("${apt_get[@]}" "$@" update -q 2>&1); then
      failed=$(apt_failed_index_lines "$out")
    else
      failed=$(apt_failed_index_lines "$out")
      # A failure with no index named (no network at all, a bad sources
      # file): apt's own words.
      [ -n "$failed" ] || failed="package lists: $(apt_errors "$out")"
    fi
    [ -n "$failed" ] || return 0
    if ((try < APT_TRIES)); then
      echo "$who: updating the package lists failed (try $try of $APT_TRIES); again in $APT_PAUSE s" >&2
      sleep "$APT_PAUSE"
    fi
  done
  apt_failed_indexes=$(sed "s/^/$who: index failed: /" <<<"$failed")
  echo "$apt_failed_indexes" >&2
  echo "$who: going on with the package lists there are" >&2
}

apt_install() {
  local who=$1 try out options=() packages=() package unavailable=0 log
  local - # apt-get's status through tee
  set -o pipefail
  shift
  while [ $# -gt 0 ] && [ "$1" != -- ]; do
    options+=("$1")
    shift
  done
  shift
  packages=("$@")
  local install=("${apt_get[@]}" ${options[@]+"${options[@]}"} install -y -q --no-install-recommends)
  log=$(mktemp)
  for ((try = 1; try <= APT_TRIES; try++)); do
    if "${install[@]}" "${packages[@]}" 2>&1 | tee "$log"; then
      rm -f "$log"
      return 0
    fi
    out=$(cat "$log")
    if ((try < APT_TRIES)); then
      echo "$who: installing failed (try $try of $APT_TRIES: $(apt_errors "$out")); again in $APT_PAUSE s" >&2
      sleep "$APT_PAUSE"
    fi
  done
  rm -f "$log"
  for package in "${packages[@]}"; do
    if ! out=$("${install[@]}" "$package" 2>&1); then
      echo "$who: cannot install $package: $(apt_errors "$out")" >&2
      unavailable=1
    fi
  done
  # Each alone went in (a download that failed three times in a row and then
  # came): nothing is missing.
  return $unavailable
}
