# Sourced by the package tests:
#
#   older_package DEB OUT
#
# writes OUT, the package DEB with its version lowered (VERSION~older1, which
# dpkg orders before VERSION) and nothing else changed: a build to install
# first and upgrade from with DEB. Prints the lower version.
older_package() {
  local deb=$1 out=$2 tree version
  version=$(dpkg-deb -f "$deb" Version)~older1
  tree=$(mktemp -d)
  dpkg-deb -R "$deb" "$tree/package"
  sed -i "s/^Version: .*/Version: $version/" "$tree/package/DEBIAN/control"
  # Quick to make: it lives only as long as the test.
  dpkg-deb -Zgzip -z1 -b "$tree/package" "$out" >/dev/null
  rm -rf "$tree"
  echo "$version"
}
