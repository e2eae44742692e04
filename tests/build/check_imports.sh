#!/bin/bash
# check_imports.sh OBJDUMP PRODUCT_DIR TEST_DIR
# Fails when an executable imports a DLL that Windows does not ship, or when the
# product's Orvane.exe is not a 32-bit (PE32, i386) GUI program.
set -u
objdump=$1 product_dir=$2 test_dir=$3
product_objdump=${objdump/x86_64-w64-mingw32/i686-w64-mingw32}
system_dlls='^(kernel32|user32|gdi32|advapi32|shell32|ole32|oleaut32|comctl32|uxtheme|winhttp|bcrypt|msvcrt|shlwapi|comdlg32|ws2_32|crypt32|version|rpcrt4|api-ms-win-.*)\.dll$'
failed=0 checked=0

check_dlls() { # tool exe
  local dll
  while read -r dll; do
    if ! echo "$dll" | tr 'A-Z' 'a-z' | grep -Eq "$system_dlls"; then
      echo "FAIL: $2 imports $dll, which is not part of Windows"
      failed=1
    fi
  done < <("$1" -p "$2" | sed -n 's/^[[:space:]]*DLL Name: //p')
  checked=$((checked + 1))
}

exe=$product_dir/Orvane.exe
if [ ! -f "$exe" ]; then
  echo "FAIL: $exe is missing"; exit 1
fi
headers=$("$product_objdump" -p "$exe")
echo "$headers" | grep -q 'Magic[[:space:]]*010b' || { echo "FAIL: $exe is not PE32"; failed=1; }
"$product_objdump" -f "$exe" | grep -q 'architecture: i386' || { echo "FAIL: $exe is not i386"; failed=1; }
echo "$headers" | grep -Eq 'Subsystem[[:space:]]+0*2[[:space:]]' || { echo "FAIL: $exe is not a GUI program"; failed=1; }

shopt -s nullglob
for f in "$product_dir"/*.exe; do check_dlls "$product_objdump" "$f"; done
if [ "$test_dir" != "$product_dir" ]; then
  for f in "$test_dir"/*.exe; do check_dlls "$objdump" "$f"; done
fi
if [ "$failed" = 0 ]; then
  echo "checked $checked executables: only system DLLs; Orvane.exe is PE32 i386 GUI"
fi
exit $failed
