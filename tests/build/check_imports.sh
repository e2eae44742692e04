#!/bin/bash
# check_imports.sh OBJDUMP PRODUCT_DIR TEST_DIR
# Fails when an executable imports a DLL that Windows does not ship; when a shipped program imports a
# DLL other than Windows' KnownDLLs the ordinary way; or when the product's Orvane.exe is not a 32-bit
# (PE32, i386) GUI program.
#
# Windows loads a statically imported DLL that is not one of its KnownDLLs from the program's own folder
# first, before the program runs a single line, and the shipped programs run from folders others can
# write to (a browser's download folder, %TEMP%, a game folder the mirror fills). So they delay-load
# every other DLL (winhttp, bcrypt, uxtheme, comctl32): it is loaded by name on first use, after the
# program limited the DLL search to System32. Delay imports are fine and are listed for information.
set -u
objdump=$1 product_dir=$2 test_dir=$3
product_objdump=${objdump/x86_64-w64-mingw32/i686-w64-mingw32}
system_dlls='^(kernel32|user32|gdi32|advapi32|shell32|ole32|oleaut32|comctl32|uxtheme|winhttp|bcrypt|msvcrt|shlwapi|comdlg32|ws2_32|crypt32|version|rpcrt4|api-ms-win-.*)\.dll$'
# Windows' KnownDLLs (HKLM\SYSTEM\CurrentControlSet\Control\Session Manager\KnownDLLs), always taken
# from System32; API set names are resolved by the loader, never searched for.
known_dlls='^(advapi32|clbcatq|combase|comdlg32|coml2|gdi32|gdiplus|imagehlp|imm32|kernel32|msctf|msvcrt|normaliz|nsi|ole32|oleaut32|psapi|rpcrt4|sechost|setupapi|shcore|shell32|shlwapi|user32|wldap32|ws2_32|api-ms-win-.*)\.dll$'
# The programs that ship: the launcher (and the test launcher built the same way), orvanectl, and the
# sample game's client, which the sample release puts in game folders.
shipped_products='Orvane.exe orvanectl.exe Engine.exe Updater.exe'
shipped_tests='OrvaneKeyed.exe'
failed=0 checked=0

static_dlls() { # tool exe
  "$1" -p "$2" | sed -n 's/^[[:space:]]*DLL Name: //p' | tr 'A-Z' 'a-z'
}

check_dlls() { # tool exe
  local dll
  while read -r dll; do
    if ! echo "$dll" | grep -Eq "$system_dlls"; then
      echo "FAIL: $2 imports $dll, which is not part of Windows"
      failed=1
    fi
  done < <(static_dlls "$1" "$2")
  checked=$((checked + 1))
}

# GNU ld leaves the delay-import directory empty, so the delay-loaded DLLs are read from the names of
# the descriptors that the delay-import libraries (cmake/delay_load.cmake) bring in.
delay_dlls() { # tool exe
  "$1" -t "$2" | sed -n 's/.*__DELAY_IMPORT_DESCRIPTOR_lib\(.*\)_delay_a$/\1.dll/p' | sort -u | tr '\n' ' '
}

check_shipped() { # tool exe
  local dll static_ok=1 delayed
  [ -f "$2" ] || return 0
  while read -r dll; do
    if ! echo "$dll" | grep -Eq "$known_dlls"; then
      echo "FAIL: $2 imports $dll statically: Windows would load a $dll from the program's folder first"
      failed=1 static_ok=0
    fi
  done < <(static_dlls "$1" "$2")
  delayed=$(delay_dlls "$1" "$2")
  if [ "$static_ok" = 1 ]; then
    echo "$(basename "$2"): static imports are KnownDLLs only; delay-loaded (fine): ${delayed:-none}"
  fi
}

exe=$product_dir/Orvane.exe
if [ ! -f "$exe" ]; then
  echo "FAIL: $exe is missing"; exit 1
fi
headers=$("$product_objdump" -p "$exe")
echo "$headers" | grep -q 'Magic[[:space:]]*010b' || { echo "FAIL: $exe is not PE32"; failed=1; }
"$product_objdump" -f "$exe" | grep -q 'architecture: i386' || { echo "FAIL: $exe is not i386"; failed=1; }
echo "$headers" | grep -Eq 'Subsystem[[:space:]]+0*2[[:space:]]' || { echo "FAIL: $exe is not a GUI program"; failed=1; }

for name in $shipped_products; do check_shipped "$product_objdump" "$product_dir/$name"; done
for name in $shipped_tests; do check_shipped "$objdump" "$test_dir/$name"; done
[ -f "$product_dir/orvanectl.exe" ] || { echo "FAIL: $product_dir/orvanectl.exe is missing"; failed=1; }

shopt -s nullglob
for f in "$product_dir"/*.exe; do check_dlls "$product_objdump" "$f"; done
if [ "$test_dir" != "$product_dir" ]; then
  for f in "$test_dir"/*.exe; do check_dlls "$objdump" "$f"; done
fi
if [ "$failed" = 0 ]; then
  echo "checked $checked executables: only system DLLs; shipped programs import only KnownDLLs statically;" \
    "Orvane.exe is PE32 i386 GUI"
fi
exit $failed
