#!/usr/bin/env bash
# tools/setup.sh against package sources of its own: two local repositories
# used through a private apt configuration (APT_CONFIG), one of which has a
# damaged index, as a mirror in the middle of a sync has. Set-up must go on
# with one warning line and install (simulated) what it needs from the good
# one, and must fail, naming the package, when a package it needs is in
# neither. The system's architectures must be left as they were.
#   broken_index_test.sh SOURCE_ROOT
set -euo pipefail
root=$(cd "${1:?source root}" && pwd)
[ "$(id -u)" = 0 ] || { echo "needs root (apt-get as set-up runs it)"; exit 77; }
command -v dpkg-scanpackages >/dev/null || { echo "needs dpkg-scanpackages (dpkg-dev)"; exit 77; }

work=$(mktemp -d "${TMPDIR:-/tmp}/vek-setup-test.XXXXXX")
trap 'rm -rf "$work"' EXIT
chmod 755 "$work"
fail=0
check() {  # check NAME CONDITION...
  local name=$1; shift
  if "$@"; then echo "ok: $name"; else echo "FAILED: $name"; fail=1; fi
}

# A package that installs nothing, in a flat repository.
repository() {  # repository DIR PACKAGE
  mkdir -p "$1/pkg/DEBIAN"
  printf 'Package: %s\nVersion: 1.0\nArchitecture: all\nMaintainer: VEK tests <tests@localhost>\nDescription: set-up test package\n' \
    "$2" >"$1/pkg/DEBIAN/control"
  dpkg-deb -b "$1/pkg" "$1/$2_1.0_all.deb" >/dev/null
  rm -rf "$1/pkg"
  (cd "$1" && dpkg-scanpackages -m . /dev/null 2>/dev/null >Packages)
  local size sum
  size=$(stat -c %s "$1/Packages")
  sum=$(sha256sum "$1/Packages" | cut -d' ' -f1)
  printf 'Origin: vek-test\nLabel: vek-test\nSuite: test\nCodename: test\nDate: %s\nSHA256:\n %s %s Packages\n' \
    "$(LC_ALL=C date -u '+%a, %d %b %Y %H:%M:%S UTC')" "$sum" "$size" >"$1/Release"
}
repository "$work/good" vek-setup-probe
repository "$work/broken" vek-setup-other
# The index no longer matches what its Release file says of it.
echo "Package: half-synced" >>"$work/broken/Packages"
mkdir -p "$work/state/lists/partial" "$work/state/cache/archives/partial"
: >"$work/state/status"
cat >"$work/sources.list" <<LIST
deb [trusted=yes] file:$work/good ./
deb [trusted=yes] file:$work/broken ./
LIST
cat >"$work/apt.conf" <<CONF
Dir::Etc::SourceList "$work/sources.list";
Dir::Etc::SourceParts "/dev/null";
Dir::State::Lists "$work/state/lists";
Dir::Cache "$work/state/cache";
Dir::State::status "$work/state/status";
CONF
mkdir -p "$work/groups"
echo "vek-setup-probe" >"$work/groups/good.txt"
printf '# a comment\nvek-setup-probe\nvek-not-anywhere\n' >"$work/groups/missing.txt"

arches=$(dpkg --print-foreign-architectures | tr '\n' ' ')
run_setup() {  # run_setup GROUP: exit code, standard error in $work/err
  APT_CONFIG=$work/apt.conf VEK_PACKAGES_DIR=$work/groups VEK_SETUP_SIMULATE=1 VEK_APT_RETRY_PAUSE=0 \
    "$root/tools/setup.sh" "$1" >"$work/out" 2>"$work/err"
}

status=0; run_setup good || status=$?
check "a broken index does not stop set-up" test "$status" = 0
check "the broken index is reported in one warning line" \
  test "$(grep -c '^setup: warning:' "$work/err")" = 1
check "the warning names the broken repository" grep -q "file:$work/broken" "$work/err"
check "the needed package is installed (simulated)" grep -q '^setup: installed vek-setup-probe' "$work/out"

status=0; run_setup missing || status=$?
check "a package that cannot be installed fails set-up" test "$status" != 0
check "the failure names that package" grep -q '^setup: cannot install vek-not-anywhere:' "$work/err"
check "the installable package is not blamed" bash -c "! grep -q 'cannot install vek-setup-probe' '$work/err'"

check "no foreign architecture added" test "$(dpkg --print-foreign-architectures | tr '\n' ' ')" = "$arches"
[ "$fail" = 0 ] || { echo "--- set-up's standard error:"; cat "$work/err"; }
exit "$fail"
