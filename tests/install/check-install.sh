#!/usr/bin/env bash
# Installs the build into a fresh prefix and checks what a desktop reads from
# it: the program, the launcher entry (valid, with its icon), the software
# centre's description (valid) and the project file types, mapped from ".zya2"
# and ".zya" to Korvel's entry once the desktop's caches are made the way a
# package's install hooks make them. Files of the earlier, bare-named install
# are gone afterwards, from the prefix and, after the installer hook, from the
# user's own data folder.
# Usage: check-install.sh <cmake command> <build folder>
set -euo pipefail
cmake=$1
build=$2
for tool in desktop-file-validate update-desktop-database update-mime-database appstreamcli; do
  command -v "$tool" >/dev/null || { echo "missing $tool (scripts/install-deps installs it)" >&2; exit 1; }
done
prefix=$(mktemp -d "${TMPDIR:-/tmp}/korvel-install.XXXXXX")
trap 'rm -rf "$prefix"' EXIT
fail() { echo "install check: $*" >&2; exit 1; }
id=io.github.korvel.Korvel
share=$prefix/share
home=$prefix/home

# What an earlier version left: in the prefix, and in a user's own folder.
old=("$share/applications/korvel.desktop" "$share/mime/packages/korvel.xml"
     "$share/icons/hicolor/scalable/apps/korvel.svg" "$share/icons/hicolor/48x48/apps/korvel.png")
user_old=("$home/.local/share/applications/korvel.desktop" "$home/.local/share/mime/packages/korvel.xml")
for f in "${old[@]}" "${user_old[@]}"; do mkdir -p "$(dirname "$f")"; echo old >"$f"; done
echo keep >"$home/.local/share/applications/other.desktop"

"$cmake" --install "$build" --prefix "$prefix" >"$prefix/install.log" || { cat "$prefix/install.log" >&2; fail "cmake --install failed"; }
[ -x "$prefix/bin/korvel" ] || fail "no bin/korvel"
for f in "${old[@]}"; do [ ! -e "$f" ] || fail "the earlier $f is still installed"; done

entry=$share/applications/$id.desktop
[ -f "$entry" ] || fail "no share/applications/$id.desktop"
desktop-file-validate "$entry" || fail "$id.desktop does not validate"
icon=$(sed -n 's/^Icon=//p' "$entry")
[ "$icon" = "$id" ] || fail "the entry's icon is '$icon', not the application id"
[ -f "$share/icons/hicolor/scalable/apps/$icon.svg" ] || fail "the entry's icon $icon is not installed"
exec_line=$(sed -n 's/^Exec=//p' "$entry")
[ "$exec_line" = "korvel %f" ] || fail "Exec is '$exec_line', not the program with one file"
# The window's class (Qt takes it from the application name) ties it to the entry.
grep -qx 'StartupWMClass=Korvel' "$entry" || fail "the entry does not name the window's class"

metainfo=$share/metainfo/$id.metainfo.xml
[ -f "$metainfo" ] || fail "no share/metainfo/$id.metainfo.xml"
appstreamcli validate --no-net "$metainfo" || fail "$id.metainfo.xml does not validate"
grep -q "<launchable type=\"desktop-id\">$id.desktop</launchable>" "$metainfo" || fail "the metainfo does not launch $id.desktop"

[ -f "$share/mime/packages/$id.xml" ] || fail "no share/mime/packages/$id.xml"
update-mime-database "$share/mime" || fail "update-mime-database refused $id.xml"
grep -Eq '^[0-9]+:application/x-korvel-project:\*\.zya2$' "$share/mime/globs2" || fail ".zya2 is not a Korvel project"
grep -Eq '^[0-9]+:application/x-korvel-project-old:\*\.zya$' "$share/mime/globs2" || fail ".zya is not a Korvel project"
update-desktop-database "$share/applications" || fail "update-desktop-database failed"
for type in application/x-korvel-project application/x-korvel-project-old; do
  grep -qx "$type=$id.desktop;" "$share/applications/mimeinfo.cache" || fail "$type does not open with Korvel"
done

# The installed program runs (its installer hook starts and exits at once)
# and clears the earlier names out of the user's folder, nothing else.
HOME=$home XDG_DATA_HOME= KORVEL_CONFIG_DIR=$prefix/config KORVEL_STATE_DIR=$prefix/state ASAN_OPTIONS=detect_leaks=0 \
  "$prefix/bin/korvel" --install 2>/dev/null || fail "the installed program does not run"
for f in "${user_old[@]}"; do [ ! -e "$f" ] || fail "--install left the earlier $f"; done
[ -f "$home/.local/share/applications/other.desktop" ] || fail "--install removed another program's entry"
echo "install check: passed ($prefix)"
