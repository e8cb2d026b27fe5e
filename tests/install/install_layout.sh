#!/usr/bin/env bash
# Installs the build into a temporary root and runs the installed programs as
# an operator of a system-wide installation would, then checks that a copy of
# the programs in a writable folder still keeps everything beside itself.
#   install_layout.sh BUILD_DIR
set -euo pipefail
build="$1"
tmp="$(mktemp -d)"
trap 'rm -rf "$tmp"' EXIT
fail() { echo "FAIL: $*" >&2; exit 1; }

root="$tmp/root"
DESTDIR="$root" cmake --install "$build" --prefix /usr >/dev/null
prefix="$root/usr"

for f in bin/lentar bin/lentar-cli bin/lentar-boardsim bin/lentar-fontpack \
         share/lentar/Fonts/default.tfa share/applications/lentar.desktop \
         share/icons/hicolor/scalable/apps/lentar.svg \
         share/icons/hicolor/48x48/apps/lentar.png \
         share/lentar/Fonts/Terminus-Font-OFL-1.1.txt share/lentar/Fonts/console-setup-linux.txt \
         share/doc/lentar/copyright share/doc/lentar/changelog.gz; do
  [ -e "$prefix/$f" ] || fail "not installed: $f"
done
for p in lentar lentar-cli lentar-boardsim lentar-fontpack; do
  [ -s "$prefix/share/man/man1/$p.1.gz" ] || fail "no man page for $p"
  zcat "$prefix/share/man/man1/$p.1.gz" | grep -q '^\.SH' || fail "man page of $p has no sections"
done
head -1 "$prefix/share/doc/lentar/copyright" | grep -q '^Format: https://www.debian.org/doc/packaging-manuals/copyright-format/1.0/$' \
  || fail "copyright file is not in the machine-readable format"
version="$("$prefix/bin/lentar-cli" --version | sed 's/^lentar-cli //')"
zcat "$prefix/share/doc/lentar/changelog.gz" | head -1 | grep -qF "lentar ($version) " \
  || fail "changelog does not start with version $version"
metainfo="$prefix/share/metainfo/org.example.lentar.metainfo.xml"
[ -s "$metainfo" ] || fail "no AppStream metainfo"
grep -qF "<release version=\"$version\"" "$metainfo" || fail "metainfo release is not version $version"
if command -v appstreamcli >/dev/null; then
  appstreamcli validate --no-net --pedantic "$metainfo" >&2 || fail "appstreamcli validate"
fi
if command -v desktop-file-validate >/dev/null; then
  out="$(desktop-file-validate "$prefix/share/applications/lentar.desktop")"
  [ -z "$out" ] || fail "desktop-file-validate: $out"
fi
! grep -q '^MimeType=' "$prefix/share/applications/lentar.desktop" \
  || fail "the editor offers itself for a file type"
grep -q '^Exec=lentar %f$' "$prefix/share/applications/lentar.desktop" || fail "desktop entry Exec"
grep -q '^Name\[ru\]=' "$prefix/share/applications/lentar.desktop" || fail "desktop entry Russian name"

# What the prefix holds before the programs run: nothing may be added to it.
snapshot() { (cd "$root" && find . -printf '%p %s %T@\n' | sort); }
before="$(snapshot)"

home="$tmp/home"
mkdir -p "$home" "$tmp/work"
export HOME="$home" XDG_CONFIG_HOME="$home/.config" XDG_DATA_HOME="$home/.local/share"
printf 'Привет, табло!' | iconv -f UTF-8 -t CP1251 > "$tmp/work/set.txt"

cd "$tmp/work"
"$prefix/bin/lentar-cli" compile set.txt -o set.bin >/dev/null || fail "installed lentar-cli compile"
[ -s set.bin ] || fail "no image written"
"$prefix/bin/lentar-cli" fonts | grep -q 'default.tfa' || fail "installed lentar-cli does not find the default fonts"
"$prefix/bin/lentar-cli" gprs set.txt >/dev/null || fail "installed lentar-cli gprs"
[ -s "$home/.config/lentar/lentar.ini" ] || fail "settings file not in the per-user folder"
grep -q 'GprsFileVersion=1' "$home/.config/lentar/lentar.ini" || fail "GPRS version not stored per user"

# The installed editor, offscreen: it starts, and on SIGTERM closes as on
# "Выход", writing its settings into the per-user folder.
rm -f "$home/.config/lentar/lentar.ini"
QT_QPA_PLATFORM=offscreen "$prefix/bin/lentar" &
editor=$!
for _ in $(seq 100); do [ -d "$home/.local/share/lentar/Langs" ] && break; sleep 0.1; done
[ -d "$home/.local/share/lentar/Langs" ] || fail "editor did not make its Langs folder per user"
sleep 1
kill -TERM "$editor"
for _ in $(seq 100); do kill -0 "$editor" 2>/dev/null || break; sleep 0.1; done
kill -0 "$editor" 2>/dev/null && { kill -KILL "$editor"; fail "editor did not close on SIGTERM"; }
wait "$editor" || fail "editor exited with $?"
[ -s "$home/.config/lentar/lentar.ini" ] || fail "editor wrote no settings into the per-user folder"
grep -q '^\[Settings\]' "$home/.config/lentar/lentar.ini" || fail "editor's settings file has no section"

after="$(snapshot)"
[ "$before" = "$after" ] || { diff <(echo "$before") <(echo "$after") >&2; fail "something was written into the prefix"; }

# Portable use: a copy of the programs in a folder of their own keeps its
# settings beside them and writes nothing into the home folder.
portable="$tmp/portable"
mkdir -p "$portable/Fonts"
cp "$build/bin/lentar-cli" "$portable/"
cp "$build/bin/Fonts/default.tfa" "$portable/Fonts/"
rm -rf "$home/.config" "$home/.local"
"$portable/lentar-cli" gprs set.txt -o portable.gprs.txt >/dev/null || fail "portable lentar-cli gprs"
[ -s "$portable/lentar.ini" ] || fail "portable copy did not write lentar.ini beside itself"
[ ! -e "$home/.config/lentar" ] || fail "portable copy wrote into the home folder"
"$portable/lentar-cli" fonts | grep -q "$portable/Fonts/default.tfa" || fail "portable copy does not use its own fonts"
echo "install layout: ok"
