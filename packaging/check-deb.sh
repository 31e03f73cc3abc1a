#!/usr/bin/env bash
# Checks the Debian packages `make deb` made: the files each must hold, that
# the desktop entry and the polkit action agree on the wizard's path, and that
# lintian finds no errors.
# usage: packaging/check-deb.sh FOLDER-WITH-THE-DEBS
set -euo pipefail
folder=${1:?usage: check-deb.sh FOLDER}
failed=0
fail() {
  echo "check-deb: $*" >&2
  failed=1
}

# The one package of a name in the folder (run in a subshell: says why not on stdout, returns 1).
package() {
  local name=$1
  local found=("$folder"/"$name"_*.deb)
  [ -f "${found[0]}" ] || { echo "no $name package in $folder"; return 1; }
  [ ${#found[@]} -eq 1 ] || { echo "more than one $name package in $folder"; return 1; }
  echo "${found[0]}"
}

expect_files() {
  local deb=$1
  shift
  local listing
  listing=$(dpkg-deb -c "$deb" | awk '{print $6}')
  for file in "$@"; do
    grep -qxF "./$file" <<<"$listing" || fail "$(basename "$deb") lacks /$file"
  done
  if grep -q '^\./usr/local/' <<<"$listing"; then fail "$(basename "$deb") installs into /usr/local"; fi
  local mode
  mode=$(dpkg-deb -c "$deb" | awk '$6 ~ /^\.\/usr\/bin\/./ {print $1}' | sort -u)
  [ -z "$mode" ] || [ "$mode" = "-rwxr-xr-x" ] || fail "$(basename "$deb"): programs are $mode, not -rwxr-xr-x"
}

cli=$(package tarnwell) || { fail "$cli"; cli=""; }
gui=$(package tarnwell-gui) || { fail "$gui"; gui=""; }

if [ -n "$cli" ]; then
  expect_files "$cli" usr/bin/tarnwell usr/share/man/man1/tarnwell.1.gz \
    usr/share/bash-completion/completions/tarnwell usr/share/doc/tarnwell/copyright usr/share/doc/tarnwell/changelog.gz
fi

if [ -n "$gui" ]; then
  expect_files "$gui" usr/bin/tarnwell-gui usr/share/man/man1/tarnwell-gui.1.gz \
    usr/share/applications/tarnwell-gui.desktop usr/share/icons/hicolor/scalable/apps/tarnwell.svg \
    usr/share/polkit-1/actions/org.tarnwell.gui.policy usr/share/doc/tarnwell-gui/copyright \
    usr/share/doc/tarnwell-gui/changelog.gz
  extract() { dpkg-deb --fsys-tarfile "$gui" | tar -xO "./$1"; }
  exec_line=$(extract usr/share/applications/tarnwell-gui.desktop | grep '^Exec=' || true)
  [ "$exec_line" = "Exec=pkexec /usr/bin/tarnwell-gui" ] || fail "desktop entry: '$exec_line', not pkexec /usr/bin/tarnwell-gui"
  extract usr/share/polkit-1/actions/org.tarnwell.gui.policy |
    grep -qF '<annotate key="org.freedesktop.policykit.exec.path">/usr/bin/tarnwell-gui</annotate>' ||
    fail "the polkit action does not name /usr/bin/tarnwell-gui"
  dpkg-deb -f "$gui" Depends | grep -q 'pkexec' || fail "tarnwell-gui does not depend on pkexec"
fi

if command -v lintian >/dev/null; then
  for deb in $cli $gui; do
    lintian --fail-on error --tag-display-limit 0 "$deb" || fail "lintian finds errors in $(basename "$deb")"
  done
else
  fail "lintian is not installed (scripts/setup.sh installs it)"
fi

[ $failed -eq 0 ] && echo "check-deb: packages are complete and lintian finds no errors"
exit $failed
