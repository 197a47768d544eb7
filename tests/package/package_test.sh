#!/usr/bin/env bash
# The Debian package, end to end: built from the committed tree of SOURCE
# (a clean snapshot, never the working tree), checked with lintian,
# desktop-file-validate and appstreamcli, installed with dpkg -i, used by an
# ordinary user made for the test (qvsearch, then the window under the
# offscreen platform), and purged. Checks that the user's index and
# settings are in the user's XDG folders, that nothing was written under
# /usr, and that nothing of the package is left after the purge.
#   package_test.sh SOURCE
# QV_PACKAGE_DEB=FILE tests that package instead of building one.
# Needs root (dpkg -i, useradd): exits 77 (skipped) otherwise, or when
# QV_SKIP_PACKAGE_TEST is set.
set -euo pipefail
source_dir=$(cd "$1" && pwd)
package=qvsearch

skip() { echo "SKIPPED: $*"; exit 77; }
fail() { echo "FAIL: $*"; exit 1; }
[ -z "${QV_SKIP_PACKAGE_TEST:-}" ] || skip "QV_SKIP_PACKAGE_TEST is set"
[ "$(id -u)" -eq 0 ] || skip "installing a package and making a user need root"
if dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "ok installed"; then
  skip "$package is installed on this machine already; the test would remove it"
fi
for tool in dpkg-buildpackage dh lintian desktop-file-validate appstreamcli useradd runuser; do
  command -v "$tool" >/dev/null || fail "$tool is missing (tools/install-deps.sh installs it)"
done

work=$(mktemp -d /tmp/qvsearch-package-XXXXXX)
chmod 0755 "$work"
user=qvpkg$$
home=$work/home
installed=0
cleanup() {
  set +e
  [ $installed -eq 1 ] && dpkg --purge "$package" >/dev/null 2>&1
  if id "$user" >/dev/null 2>&1; then
    uid=$(id -u "$user")
    pkill -KILL -u "$uid" 2>/dev/null
    userdel "$user" 2>/dev/null
    rm -rf "/tmp/qvsearch-$uid"
  fi
  rm -rf "$work"
}
trap cleanup EXIT

if [ -n "${QV_PACKAGE_DEB:-}" ]; then
  # Working on the test itself: a package built before.
  deb=$QV_PACKAGE_DEB
  checked=$deb
else
  echo "== snapshot of the committed tree"
  mkdir "$work/src"
  if git -C "$source_dir" rev-parse --verify -q HEAD >/dev/null 2>&1; then
    git -C "$source_dir" archive HEAD | tar -x -C "$work/src"
  else
    tar -C "$source_dir" --exclude='./build*' --exclude=./.git -c . | tar -x -C "$work/src"
  fi

  echo "== dpkg-buildpackage"
  jobs=$(nproc); [ "$jobs" -le 2 ] || jobs=2
  if ! (cd "$work/src" && DEB_BUILD_OPTIONS="nocheck parallel=$jobs" dpkg-buildpackage -us -uc -b) \
      >"$work/build.log" 2>&1; then
    tail -60 "$work/build.log"
    fail "dpkg-buildpackage failed"
  fi
  deb=$(ls "$work"/${package}_*_*.deb | grep -v dbgsym)
  checked=$(ls "$work"/${package}_*.changes)
fi

echo "== lintian"
# Errors and warnings fail; the overridden ones are explained in debian/.
lintian --fail-on error,warning --allow-root "$checked" || fail "lintian reported errors or warnings"

echo "== desktop entry and AppStream metadata, as packaged"
dpkg-deb -x "$deb" "$work/contents"
desktop-file-validate "$work"/contents/usr/share/applications/*.desktop || fail "desktop-file-validate"
appstreamcli validate --no-net "$work"/contents/usr/share/metainfo/*.metainfo.xml || fail "appstreamcli validate"
for size in 16 22 24 32 48 64 128 256 512; do
  [ -s "$work/contents/usr/share/icons/hicolor/${size}x${size}/apps/qvsearch.png" ] || fail "no ${size}px icon"
done
[ -s "$work/contents/usr/share/icons/hicolor/scalable/apps/qvsearch.svg" ] || fail "no scalable icon"
for page in qvsearch qvSearchApp; do
  zcat "$work/contents/usr/share/man/man1/$page.1.gz" | grep -q '^\.TH' || fail "manual page $page is not roff"
done

echo "== dpkg -i"
dpkg -i "$deb" || fail "dpkg -i"
installed=1
files=$(dpkg -L "$package")
for program in qvsearch qvSearchApp; do
  [ "$(command -v $program)" = /usr/bin/$program ] || fail "$program is not on the PATH"
done
grep -rq '^Exec=qvSearchApp$' /usr/share/applications/org.qvsearch.qvsearch.desktop || fail "desktop entry"
stamp=$work/stamp
touch "$stamp"

echo "== as the ordinary user $user"
# A home without .local or .config: the programs make what they need.
useradd --no-create-home --home-dir "$home" --shell /bin/sh "$user"
mkdir -m 0700 "$home"
chown "$user:" "$home"
run=$work/run
mkdir -m 0700 "$run"
chown "$user:" "$run"
as_user() {
  runuser -u "$user" -- env -i HOME="$home" XDG_RUNTIME_DIR="$run" PATH=/usr/bin:/bin LANG=C.UTF-8 "$@"
}
expected=$(find /usr/share/doc -mindepth 1 -iname '*copyright*' | wc -l)
[ "$expected" -gt 0 ] || fail "no copyright files under /usr/share/doc to search for"

count=$(as_user qvsearch --root /usr/share/doc --count copyright) || fail "qvsearch failed"
echo "qvsearch counted $count, find counts $expected"
[ "$count" = "$expected" ] || fail "qvsearch --count copyright gave $count, find gives $expected"
data=$home/.local/share/qvsearch
[ -s "$data/ntfsqs.db" ] && [ -s "$data/ext.db" ] || fail "the index is not in $data"
[ "$(stat -c %a "$data")" = 700 ] || fail "$data is not private to the user"

# The window reads its settings from the user's XDG folder: index only
# /usr/share/doc, and do not start at login.
rm -f "$data"/*.db
as_user sh -c 'mkdir -p "$HOME/.config/qvsearch" && printf "[config]\nroots=/usr/share/doc\nautorun=0\n" >"$HOME/.config/qvsearch/qvConfig.ini"'
# --screenshot types the query, waits for the engine's answer, saves the
# window and closes it with the close button's teardown (index saved).
as_user QT_QPA_PLATFORM=offscreen timeout 300 qvSearchApp --screenshot "$home/window.png" --query copyright \
  || fail "the window did not exit cleanly"
[ -s "$home/window.png" ] || fail "the window showed no answer"
[ -s "$data/ntfsqs.db" ] && [ -s "$data/ext.db" ] || fail "the window did not save its index in $data"
# The saved index is current for the roots it was made of only: had the
# window not read its settings it would have indexed the volumes.
offline=$(as_user qvsearch --offline --root /usr/share/doc --count copyright) \
  || fail "no saved index of the window's roots (from its settings) in $data"
[ "$offline" = "$expected" ] || fail "the window's saved index answers $offline, expected $expected"

echo "== nothing written under /usr or /etc"
# Files of the user anywhere there, and anything new in the package's own
# folders (root may write there, the programs must not).
written=$(find /usr /etc -xdev -user "$user" -print 2>/dev/null; find /usr/lib/qvsearch /etc/qvsearch -newer "$stamp" -print)
[ -z "$written" ] || fail "written at run time: $written"
[ ! -e /usr/lib/qvsearch/data ] || fail "an index beside the installed program"

echo "== dpkg --purge"
dpkg --purge "$package" || fail "dpkg --purge"
installed=0
left=""
while IFS= read -r f; do
  [ "$f" = /. ] && continue
  # Shared folders such as /usr/share/icons stay; files and our own
  # folders must go.
  if { [ -e "$f" ] || [ -L "$f" ]; } && { [ ! -d "$f" ] || [[ $f == */qvsearch ]]; }; then left+="$f "; fi
done <<<"$files"
[ -z "$left" ] || fail "left after purge: $left"
[ ! -e /etc/qvsearch ] || fail "/etc/qvsearch left after purge"
echo "package test passed"
