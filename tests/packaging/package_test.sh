#!/usr/bin/env bash
# Builds the Debian package of a finished build, unpacks it into a scratch root (never installs it),
# and checks what an administrator would meet: the executable and its link run from there, the
# package's fields, the systemd units, lintian, and the man page, which must document every switch
# of the usage text. A check whose tool is missing is left out with its reason; the test then counts
# as skipped (exit 77) unless another check failed.
# Usage: package_test.sh <build folder> <version>
set -uo pipefail
build=$1 version=$2
failed=0 skipped=0
fail() { echo "FAILED: $*"; failed=1; }
skip() { echo "SKIPPED: $*"; skipped=1; }
have() { command -v "$1" >/dev/null; }

for tool in cpack dpkg-deb dpkg-shlibdeps; do
  have "$tool" || { echo "SKIPPED: $tool is not installed (Debian packages cmake, dpkg, dpkg-dev)"; exit 77; }
done
scratch=$(mktemp -d) && trap 'rm -rf "$scratch"' EXIT
deb=$scratch/brimora-upgrade_${version}_amd64.deb
root=$scratch/root
cpack -G DEB --config "$build/CPackConfig.cmake" -B "$scratch" >"$scratch/cpack.log" 2>&1 || cat "$scratch/cpack.log"
[[ -f $deb ]] || { echo "FAILED: no $deb"; exit 1; }
dpkg -x "$deb" "$root" || exit 1

# The trace log goes to ../Logs of the folder the tool starts in: keep it in the scratch folder.
mkdir -p "$scratch/run/Execute" && cd "$scratch/run/Execute" || exit 1
for name in BrimoraUpgrade brimora-upgrade; do
  "$root/usr/sbin/$name" --help >"$scratch/usage.txt" || fail "$name --help exited with $?"
done
grep -q '^BrimoraUpgrade \[/h' "$scratch/usage.txt" || fail "--help printed no usage text"

depends=$(dpkg-deb -f "$deb" Depends)
for package in subversion 7zip libc6 libacl1; do
  [[ $depends =~ (^|, )$package( |,|$) ]] || fail "Depends lacks $package: $depends"
done
[[ $(dpkg-deb -f "$deb" Section) == admin ]] || fail "section is not admin"
conffiles=$(dpkg-deb --info "$deb" conffiles)
[[ $conffiles == /etc/default/brimora-backup ]] || fail "conffiles: $conffiles"
grep -q '^INSTALL=' "$root/etc/default/brimora-backup" || fail "the environment file sets no INSTALL"

units=$root/lib/systemd/system
man=$root/usr/share/man/man8/BrimoraUpgrade.8.gz
if ! have systemd-analyze; then
  skip "systemd-analyze is not installed (Debian package systemd)"
else
  # The units' Documentation= names the man page: man finds it in the scratch root. Unknown keys
  # are only warned about, so any output fails too.
  out=$(MANPATH=$root/usr/share/man systemd-analyze verify "$units/brimora-backup.service" \
        "$units/brimora-backup.timer" 2>&1) || fail "systemd-analyze verify failed"
  [[ -z $out ]] || fail "systemd-analyze verify: $out"
fi

if ! have lintian; then
  skip "lintian is not installed (Debian package lintian)"
else
  # The README lists the warnings kept; a new error or warning fails.
  out=$(lintian --fail-on error,warning "$deb" 2>&1) || fail "lintian: $out"
fi

if [[ ! -f $man ]]; then
  skip "the package has no man page: scdoc was not there at build time (Debian package scdoc)"
elif ! have man; then
  skip "man is not installed (Debian package man-db)"
else
  warnings=$(LC_ALL=C MANWIDTH=80 man --warnings -l "$man" 2>&1 >"$scratch/man.txt") || fail "man failed"
  [[ -z $warnings ]] || fail "man --warnings: $warnings"
  for switch in $(grep -oE '^(/|--)[a-z?]+' "$scratch/usage.txt" | sed -E 's#^/#-#; s#^-([a-z]{2,})#--\1#'); do
    grep -qF -- "$switch" "$scratch/man.txt" || fail "the man page does not document $switch"
  done
fi

((failed)) && exit 1
((skipped)) && exit 77
exit 0
