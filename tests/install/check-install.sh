#!/usr/bin/env bash
# Installs the build into a fresh prefix and checks what a desktop reads from
# it: the program, the launcher entry (valid, with its icon) and the project
# file types, mapped from ".zya2" and ".zya" to Korvel's entry once the
# desktop's caches are made the way a package's install hooks make them.
# Usage: check-install.sh <cmake command> <build folder>
set -euo pipefail
cmake=$1
build=$2
for tool in desktop-file-validate update-desktop-database update-mime-database; do
  command -v "$tool" >/dev/null || { echo "missing $tool (scripts/install-deps installs it)" >&2; exit 1; }
done
prefix=$(mktemp -d "${TMPDIR:-/tmp}/korvel-install.XXXXXX")
trap 'rm -rf "$prefix"' EXIT
fail() { echo "install check: $*" >&2; exit 1; }

"$cmake" --install "$build" --prefix "$prefix" >"$prefix/install.log" || { cat "$prefix/install.log" >&2; fail "cmake --install failed"; }
share=$prefix/share
[ -x "$prefix/bin/korvel" ] || fail "no bin/korvel"
entry=$share/applications/korvel.desktop
[ -f "$entry" ] || fail "no share/applications/korvel.desktop"
desktop-file-validate "$entry" || fail "korvel.desktop does not validate"
icon=$(sed -n 's/^Icon=//p' "$entry")
[ -f "$share/icons/hicolor/scalable/apps/$icon.svg" ] || fail "the entry's icon $icon is not installed"
exec_line=$(sed -n 's/^Exec=//p' "$entry")
[ "$exec_line" = "korvel %f" ] || fail "Exec is '$exec_line', not the program with one file"

[ -f "$share/mime/packages/korvel.xml" ] || fail "no share/mime/packages/korvel.xml"
update-mime-database "$share/mime" || fail "update-mime-database refused korvel.xml"
grep -Eq '^[0-9]+:application/x-korvel-project:\*\.zya2$' "$share/mime/globs2" || fail ".zya2 is not a Korvel project"
grep -Eq '^[0-9]+:application/x-korvel-project-old:\*\.zya$' "$share/mime/globs2" || fail ".zya is not a Korvel project"
update-desktop-database "$share/applications" || fail "update-desktop-database failed"
for type in application/x-korvel-project application/x-korvel-project-old; do
  grep -qx "$type=korvel.desktop;" "$share/applications/mimeinfo.cache" || fail "$type does not open with Korvel"
done

# The installed program runs (its installer hook starts and exits at once).
KORVEL_CONFIG_DIR=$prefix/config KORVEL_STATE_DIR=$prefix/state ASAN_OPTIONS=detect_leaks=0 \
  "$prefix/bin/korvel" --install 2>/dev/null || fail "the installed program does not run"
echo "install check: passed ($prefix)"
