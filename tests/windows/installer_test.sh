#!/usr/bin/env bash
# The Windows installer under Wine, in a Wine prefix of its own: a silent
# install puts both programs, their DLLs and plugins and the Start-menu
# shortcut in place; the installed programs run; the silent uninstall takes
# away every file and registry key the install added.
#   installer_test.sh INSTALLER WINE_RUN PREFIX VERSION
set -uo pipefail
installer=$1 wine_run=$2 prefix=$3 version=$4

if [ ! -f "$installer" ]; then
  echo "no installer at $installer: make windows-package first"
  exit 1
fi
. "$(dirname "$0")/../../scripts/lib/checks.sh"
wine() { "$wine_run" "$prefix" "$@"; }
settle() { WINEPREFIX=$prefix wineserver -w; }
# What the prefix holds outside Wine's own folder, and its registry keys.
snapshot() {
  (cd "$prefix/drive_c" && find . -path ./windows -prune -o -print | grep -v -i '/temp' | sort)
  grep -h '^\[' "$prefix"/system.reg "$prefix"/user.reg | sed 's/\] [0-9]*$/]/' | sort
}

rm -rf "$prefix" "$prefix.lock"
wine cmd /c exit 0 || exit 1  # makes the prefix
settle
before=$(snapshot)

dir="$prefix/drive_c/Program Files/Veltra Utility"
menu="$prefix/drive_c/ProgramData/Microsoft/Windows/Start Menu/Programs/Veltra Utility"
check "silent install" wine "$installer" /S
settle
for f in bin/veltra-utility.exe bin/veltractl.exe bin/Qt6Core.dll bin/Qt6Gui.dll bin/Qt6Widgets.dll \
         bin/Qt6SerialPort.dll bin/platforms/qwindows.dll bin/styles/qwindowsvistastyle.dll \
         bin/libstdc++-6.dll bin/libgcc_s_seh-1.dll bin/libwinpthread-1.dll Uninstall.exe; do
  check "installed $f" test -f "$dir/$f"
done
check "Start-menu shortcut \"Veltra Utility\"" test -f "$menu/Veltra Utility.lnk"
check "installed veltractl.exe --version" test "$(wine "$dir/bin/veltractl.exe" --version | tr -d '\r')" = "veltractl $version"
check "installed veltra-utility.exe --version" \
  test "$(wine "$dir/bin/veltra-utility.exe" --version | tr -d '\r')" = "veltra-utility $version"
check "silent uninstall" wine "$dir/Uninstall.exe" /S
settle
check "uninstall leaves nothing" diff <(echo "$before") <(snapshot)
[ "$failed" -eq 0 ]
