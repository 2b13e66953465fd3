#!/usr/bin/env bash
# The board's libraries on this machine: a sysroot per ARM architecture and
# Debian release, made from Debian's packages of that architecture without
# adding it to this machine's dpkg, for the cross builds, their emulated tests
# and packages.
#
#   scripts/sysroot.sh arm64|armhf [12|13] [--refresh]
#   scripts/sysroot.sh arm64|armhf [12|13] --try-install PACKAGE.deb
#
# Debian 12 (bookworm) when no release is given. apt resolves and downloads
# the packages below, with all they depend on, in a private state of its own
# (its own package lists, cache and an empty status, for that one
# architecture), from this machine's package sources for Debian 12, from
# Debian's own for Debian 13 (trixie; LEDWALL_DEBIAN_MIRROR and
# LEDWALL_DEBIAN_SECURITY_MIRROR name other mirrors).
#
# --try-install has apt, in that private state, simulate installing the
# package with everything it depends on from the release's own package lists
# (apt-get install -s): exit 0 when it would install, 1 with apt's reason when
# not.
# Each package is unpacked into the sysroot with dpkg-deb, and absolute
# symbolic links inside it are made relative so that they stay inside.
# In its var/lib/dpkg, the packages' data for dpkg-shlibdeps (their control
# fields, their files with the sysroot's path in front, shlibs and symbols),
# so that a package's Depends are computed from the libraries it links.
#
# Where: $LEDWALL_SYSROOTS/ARCH (default ~/.cache/ledwall-sysroots/ARCH; for
# Debian 13 ARCH-deb13), in
#   root/      the sysroot      apt/       apt's private state
#   packages   name, version, architecture and size of each package in it
# A sysroot is kept between runs and made again only when the list of
# packages below changes, or with --refresh (which takes the newest versions
# the package lists offer then); a sysroot that is up to date needs no network.
#
# The last line of its output is the sysroot's folder. Exit status 3 when the
# architecture's package lists cannot be had at all (the last line on stderr
# gives the reason: "sysroot: ARCH: unavailable: ..."), 1 on any other failure.
set -euo pipefail
cd "$(dirname "$0")/.."
. scripts/apt.sh

usage() { echo "usage: scripts/sysroot.sh arm64|armhf [12|13] [--refresh | --try-install PACKAGE.deb]" >&2; exit 2; }
arch=${1:-}
case $arch in
arm64 | armhf) ;;
*) usage ;;
esac
shift
release=12
case ${1:-} in
12 | bookworm) shift ;;
13 | trixie) release=13; shift ;;
esac
refresh= try_install=
case ${1:-} in
'') ;;
--refresh) refresh=1 ;;
--try-install) try_install=${2:-}; [ -f "$try_install" ] || usage; try_install=$(realpath "$try_install") ;;
*) usage ;;
esac

# What the board's build links (the demo's libraries; the tests' libraries
# and the test-stream encoder), and what its programs need to run under
# emulation: the C and C++ runtimes and ALSA's plugin for the headless sound
# server.
packages=(
  libgd-dev libvorbisidec-dev libogg-dev libasound2-dev libfftw3-dev libpng-dev
  libgtest-dev libgmock-dev libvorbis-dev
  libc6-dev libstdc++6 libasound2-plugins
)
# Debian 13's libraries need a newer C++ runtime than this machine's cross
# compiler (gcc 12) links by default: the build links the release's own
# (the toolchain file takes it from the sysroot when it is there).
[ "$release" = 12 ] || packages+=(libstdc++-14-dev)
# The list and the way the sysroot is made: a change to either makes it anew.
# (Debian 12's recipe is what it was before there were releases, so that a
# sysroot made then is still taken.)
recipe_version=2
recipe_lines=("recipe $recipe_version" "$arch")
[ "$release" = 12 ] || recipe_lines+=("debian $release" "merged /usr")
recipe=$(printf '%s\n' "${recipe_lines[@]}" "${packages[@]}" | sha256sum | cut -d' ' -f1)

label=$arch
[ "$release" = 12 ] || label=$arch-deb$release
home=${LEDWALL_SYSROOTS:-${XDG_CACHE_HOME:-$HOME/.cache}/ledwall-sysroots}/$label
mkdir -p "$home"
home=$(realpath "$home")
root=$home/root
say() { echo "sysroot: $label: $*" >&2; }

# apt for this architecture alone, in a state of its own; the rest of apt's
# settings (proxies) are this machine's, and so are the sources for Debian 12.
state=$home/apt
mkdir -p "$state/lists/partial" "$state/cache/archives/partial"
touch "$state/status"
apt_get=(env LC_ALL=C apt-get)
private=(-o Dir::State="$state" -o Dir::State::status="$state/status" -o Dir::Cache="$state/cache"
  -o APT::Architecture="$arch" -o APT::Architectures="$arch" -o Debug::NoLocking=true
  -o APT::Sandbox::User="$(id -un)" -o Acquire::Languages=none -o APT::Install-Recommends=false)
if [ "$release" = 13 ]; then
  mirror=${LEDWALL_DEBIAN_MIRROR:-http://deb.debian.org/debian}
  security=${LEDWALL_DEBIAN_SECURITY_MIRROR:-http://deb.debian.org/debian-security}
  keys=/usr/share/keyrings/debian-archive-keyring.gpg
  mkdir -p "$state/sources.list.d"
  cat >"$state/sources.list" <<SOURCES
deb [signed-by=$keys] $mirror trixie main
deb [signed-by=$keys] $mirror trixie-updates main
deb [signed-by=$keys] $security trixie-security main
SOURCES
  private+=(-o Dir::Etc::sourcelist="$state/sources.list" -o Dir::Etc::sourceparts="$state/sources.list.d")
fi

if [ -n "$try_install" ]; then
  [ -n "$(compgen -G "$state/lists/*_Packages*")" ] || { say "no package lists: make the sysroot first"; exit 1; }
  if ! plan=$("${apt_get[@]}" "${private[@]}" -s install "$try_install" 2>&1); then
    echo "$plan" >&2
    say "$(basename "$try_install") would not install: $(apt_errors "$plan")"
    exit 1
  fi
  say "$(basename "$try_install") installs with $(grep -c '^Inst ' <<<"$plan") packages"
  exit 0
fi

if [ -z "$refresh" ] && [ -d "$root" ] && [ "$(cat "$home/recipe" 2>/dev/null)" = "$recipe" ]; then
  echo "$root"
  exit 0
fi

say "resolving ${packages[*]} with their dependencies"
apt_update "sysroot: $arch" "${private[@]}"
if ! plan=$("${apt_get[@]}" "${private[@]}" -s install "${packages[@]}" 2>&1); then
  # The packages are not in the lists there are because a list is missing:
  # the architecture is out of reach, not the packages wrong.
  if [ -n "$apt_failed_indexes" ]; then
    say "unavailable: its package lists could not be had ($(sed 's/^sysroot: [a-z0-9]*: index failed: //' <<<"$apt_failed_indexes" | paste -sd ';' | sed 's/;/; /g'))"
    exit 3
  elif ! compgen -G "$state/lists/*_Packages*" >/dev/null; then
    say "unavailable: this machine's package sources give no package list for $arch"
    exit 3
  fi
  echo "$plan" >&2
  say "the packages cannot be resolved: $(apt_errors "$plan")"
  exit 1
fi
# "Inst NAME (VERSION SUITE [ARCH])", one line for each package to unpack.
inst=$(awk '/^Inst / { gsub(/[()[\]]/, ""); print $2, $3, $NF }' <<<"$plan")
[ -n "$inst" ] || { say "apt planned to unpack nothing"; exit 1; }
apt_install "sysroot: $arch" -qq "${private[@]}" --download-only -- "${packages[@]}" || exit 1

# Unpacked beside the old sysroot and moved in place at the end, so that an
# interrupted run leaves the old one or none, never half of one.
new=$home/root.new
newdpkg=$new/var/lib/dpkg
rm -rf "$new"
mkdir -p "$new" "$newdpkg/info" "$newdpkg/updates" "$newdpkg/triggers"
echo 1 >"$newdpkg/info/format" # info files named NAME:ARCH for Multi-Arch: same
: >"$newdpkg/status"
: >"$home/packages.new"
control=$(mktemp -d)
trap 'rm -rf "$control"' EXIT
declare -A used=()
while read -r name version parch; do
  deb=$state/cache/archives/${name}_${version//:/%3a}_${parch}.deb
  [ -f "$deb" ] || { say "apt did not download $name $version ($deb)"; exit 1; }
  used[$deb]=1
  dpkg-deb -x "$deb" "$new"
  rm -rf "$control"/*
  dpkg-deb -e "$deb" "$control"
  { grep -v '^Status:' "$control/control"; echo "Status: install ok installed"; echo; } >>"$newdpkg/status"
  key=$name
  [ "$(dpkg-deb -f "$deb" Multi-Arch)" != same ] || key=$name:$parch
  # Files as the sysroot holds them, with its final path in front.
  dpkg-deb --fsys-tarfile "$deb" | tar -t | sed -e 's|^\./|/|' -e 's|/$||' | grep -v '^$' |
    sed "s|^|$root|" >"$newdpkg/info/$key.list"
  for kind in shlibs symbols; do
    [ ! -f "$control/$kind" ] || cp "$control/$kind" "$newdpkg/info/$key.$kind"
  done
  echo "$name $version $parch $(stat -c %s "$deb")" >>"$home/packages.new"
done <<<"$inst"

# Debian 13's packages keep everything under /usr; /lib and the like are
# links there (base-files makes them on a real system), which the loader's
# path (/lib/ld-linux-armhf.so.3) and the C library's linker script need.
for dir in lib bin sbin; do
  [ -e "$new/$dir" ] || [ ! -d "$new/usr/$dir" ] || ln -s "usr/$dir" "$new/$dir"
done

# libfoo.so -> /usr/lib/..., and the like: relative, into the sysroot.
links=0
while IFS= read -r -d '' link; do
  target=$(readlink "$link")
  [ "${target#/}" != "$target" ] || continue
  ln -sfn "$(realpath -s -m --relative-to="$(dirname "$link")" "$new$target")" "$link"
  links=$((links + 1))
done < <(find "$new" -type l -print0)

# ALSA's configuration is the machine's, not the board's: without a copy in
# the sysroot, qemu lets the emulated programs read this machine's, whose
# "default" is the headless sound server (scripts/headless-sound.sh).
rm -rf "$new/etc/alsa" "$new/usr/share/alsa"

rm -rf "$root"
mv "$new" "$root"
mv "$home/packages.new" "$home/packages"
# The downloads this sysroot was made of stay, for the next time its list
# changes; older ones go.
for deb in "$state"/cache/archives/*.deb; do
  [ -n "${used[$deb]:-}" ] || rm -f "$deb"
done
echo "$recipe" >"$home/recipe"
say "$(wc -l <"$home/packages") packages, $(du -sh "$root" | cut -f1) unpacked, $links absolute links made relative"
echo "$root"
