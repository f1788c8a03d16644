#!/usr/bin/env bash
# Builds the Debian package from a build tree and checks what it installs: the desktop entry and
# the AppStream file validate, lintian finds no error, every dependency resolves on this system,
# and the programs start from a scratch root into which the package was unpacked.
# Usage: check-package.sh BUILD_DIR
set -euo pipefail
build=$(cd "$1" && pwd)
work=$(mktemp -d /tmp/quorvane-package.XXXXXX)
xvfb=""
cleanup() {
  [ -n "$xvfb" ] && kill "$xvfb" 2>/dev/null
  rm -rf "$work"
}
trap cleanup EXIT
fail() {
  echo "FAIL: $*" >&2
  exit 1
}

cpack --config "$build/CPackConfig.cmake" -B "$work/out" >"$work/cpack.log" 2>&1 || {
  cat "$work/cpack.log" >&2
  fail "cpack did not build the package"
}
deb=$(ls "$work"/out/quorvane_*_amd64.deb)
echo "package: $(basename "$deb"), $(stat -c %s "$deb") bytes"

root="$work/root"
dpkg-deb -x "$deb" "$root"
desktop="$root/usr/share/applications/org.quorvane.Quorvane.desktop"
desktop-file-validate "$desktop" || fail "desktop entry"
appstreamcli validate --no-net "$root/usr/share/metainfo/org.quorvane.Quorvane.metainfo.xml" ||
  fail "AppStream metainfo"
lintian --fail-on error --suppress-tags-from-file /dev/null "$deb" || fail "lintian reports errors"

depends=$(dpkg-deb -f "$deb" Depends)
echo "Depends: $depends"
grep -q 'libqt6widgets6' <<<"$depends" || fail "Depends lacks the libraries read off the binaries"
apt-get install --simulate -q "$deb" >"$work/apt.log" 2>&1 || {
  cat "$work/apt.log" >&2
  fail "the package's dependencies do not resolve"
}

for page in quorvane quorvane-reg; do
  [ -s "$root/usr/share/man/man1/$page.1.gz" ] || fail "no manual page for $page"
  man --warnings -l "$root/usr/share/man/man1/$page.1.gz" 2>&1 >/dev/null | grep . && fail "man page $page"
done
for size in 16 22 24 32 48 64 128 256; do
  [ -s "$root/usr/share/icons/hicolor/${size}x${size}/apps/org.quorvane.Quorvane.png" ] || fail "no ${size}px icon"
done

# The programs, started from the scratch root with a profile of their own.
export HOME="$work/home" XDG_CONFIG_HOME="$work/home/.config" XDG_DATA_HOME="$work/home/.local/share"
mkdir -p "$XDG_CONFIG_HOME"
"$root/usr/bin/quorvane-reg" --help >"$work/help.txt" || fail "quorvane-reg --help"
grep -q "Store file in use: $XDG_CONFIG_HOME/quorvane/registry.db" "$work/help.txt" ||
  fail "quorvane-reg does not name the user's store"
# The manual page names every command and switch that the tool's own help names.
man -l "$root/usr/share/man/man1/quorvane-reg.1.gz" >"$work/man.txt" 2>/dev/null
for word in $(sed -n 's/^  quorvane-reg \[--store FILE\] \([a-z]*\).*/\1/p' "$work/help.txt") \
  $(sed '/^Store file in use/d' "$work/help.txt" | grep -o '[[ ]/[a-z]\+' | cut -c2- | sort -u); do
  grep -qF -- "$word" "$work/man.txt" || fail "the manual page of quorvane-reg does not name $word"
done
"$root/usr/bin/quorvane-reg" add 'HKCU\Quorvane\A' /v Title /d 'Packaged' >/dev/null || fail "quorvane-reg add"
"$root/usr/bin/quorvane-reg" query 'HKCU\Quorvane\A' /v Title | grep -q Packaged || fail "quorvane-reg query"

exec_line=$(sed -n 's/^Exec=//p' "$desktop")
read -r -a command <<<"$exec_line"
command[0]="$root/usr/bin/${command[0]}"
Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp 3>"$work/display" >/dev/null 2>&1 &
xvfb=$!
for _ in $(seq 100); do
  [ -s "$work/display" ] && break
  sleep 0.1
done
display=$(cat "$work/display")
[ -n "$display" ] || fail "Xvfb did not start"
export DISPLAY=":$display"
"${command[@]}" >"$work/program.log" 2>&1 &
program=$!
shown=""
for _ in $(seq 150); do
  if xwininfo -root -tree 2>/dev/null | grep -q '"FormHalvorn"'; then
    shown=yes
    break
  fi
  kill -0 "$program" 2>/dev/null || break
  sleep 0.1
done
kill "$program" 2>/dev/null || true
wait "$program" 2>/dev/null || true
[ -n "$shown" ] || {
  cat "$work/program.log" >&2
  fail "the menu entry's command showed no main window"
}
echo "package checks passed"
