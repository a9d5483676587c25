#!/usr/bin/env bash
# The Windows installer under Wine, in a Wine prefix of its own: a silent
# install puts both programs, their DLLs and plugins, libveltra (its DLL,
# import library and header), the README and the licence notices (Qt's LGPL
# beside its DLLs) and the Start-menu shortcut in place; the zip beside the
# installer holds the same files; the installed programs run; the silent
# uninstall takes away every file and registry key the install added.
#   installer_test.sh INSTALLER WINE_RUN PREFIX VERSION
set -uo pipefail
installer=$1 wine_run=$2 prefix=$3 version=$4
zip=${installer%.exe}.zip

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
# libveltra for C programs: the DLL beside the programs, its import library
# (MinGW's), the .def it was made from (for MSVC's lib /def) and the header.
libveltra=(bin/veltra.dll lib/veltra.dll.a lib/veltra.def include/veltra.h)
for f in "${libveltra[@]}"; do
  check "installed $f" test -s "$dir/$f"
done
check "Start-menu shortcut \"Veltra Utility\"" test -f "$menu/Veltra Utility.lnk"

# The licences: the project's MIT one, and Qt's LGPL notice with the LGPL's
# and GPL's texts, which the LGPL asks for beside Qt's DLLs.
notices=(LICENSE README.md docs/panel.png licenses/Qt.txt licenses/LGPL-3.0.txt licenses/GPL-3.0.txt
         licenses/Qt-copyright.txt licenses/QtSerialPort-copyright.txt licenses/build-qt-mingw.sh)
for f in "${notices[@]}"; do
  check "installed $f" test -s "$dir/$f"
done
starts_with() {  # starts_with FILE TEXT: TEXT in its first lines, blanks squeezed
  head -5 "$1" | tr -s ' \n' '  ' | grep -qF "$2" || { echo "$1 starts: $(head -3 "$1")"; return 1; }
}
check "LICENSE is the MIT licence" starts_with "$dir/LICENSE" "MIT License"
check "licenses/LGPL-3.0.txt is the LGPL version 3" starts_with "$dir/licenses/LGPL-3.0.txt" "GNU LESSER GENERAL PUBLIC LICENSE Version 3"
check "licenses/GPL-3.0.txt is the GPL version 3" starts_with "$dir/licenses/GPL-3.0.txt" "GNU GENERAL PUBLIC LICENSE Version 3"
check "licenses/Qt.txt names Qt's licence and its texts" grep -qF "(LGPL-3.0-only), whose" "$dir/licenses/Qt.txt"

# The zip: the installed files (but the uninstaller) under one top folder.
installed() { (cd "$dir" && find . -type f ! -name Uninstall.exe | sed 's|^\./||' | sort); }
in_zip() { unzip -Z1 "$zip" | grep -v '/$' | sed 's|^[^/]*/||' | sort; }
if [ -f "$zip" ]; then
  check "zip holds what the installer installs" diff <(installed) <(in_zip)
  for f in LICENSE licenses/Qt.txt licenses/LGPL-3.0.txt "${libveltra[@]}"; do
    check "zip holds $f" grep -qx "$f" <(in_zip)
  done
else
  check "zip beside the installer ($zip)" false
fi
check "installed veltractl.exe --version" test "$(wine "$dir/bin/veltractl.exe" --version | tr -d '\r')" = "veltractl $version"
check "installed veltra-utility.exe --version" \
  test "$(wine "$dir/bin/veltra-utility.exe" --version | tr -d '\r')" = "veltra-utility $version"
check "silent uninstall" wine "$dir/Uninstall.exe" /S
settle
check "uninstall leaves nothing" diff <(echo "$before") <(snapshot)
[ "$failed" -eq 0 ]
