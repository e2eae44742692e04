# Shared by scripts/test and scripts/demo: build trees, the Wine prefix, Xvfb and wineserver.
# Source it; it defines functions and sets ORV_* variables.

ORV_ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
ORV_BUILD=${ORV_BUILD:-$ORV_ROOT/build}
ORV_STARTED_PIDS=()

# Wine runs 32-bit programs only where the kernel runs 32-bit user code. Elsewhere the same
# sources are built for x86_64 and run in a 64-bit prefix; the shipped program stays 32-bit.
orv_detect_arch() {
  if /usr/lib/wine/wine --version >/dev/null 2>&1; then
    ORV_TEST_ARCH=win32
    ORV_WINE=/usr/lib/wine/wine
  else
    ORV_TEST_ARCH=win64
    ORV_WINE=/usr/lib/wine/wine64
  fi
  ORV_PRODUCT_TREE=$ORV_BUILD/win32
  ORV_TEST_TREE=$ORV_BUILD/$ORV_TEST_ARCH
  export ORV_WINE
}

orv_configure_and_build() { # [targets...]
  local tests_in_product=ON
  if [ "$ORV_TEST_ARCH" != win32 ]; then tests_in_product=OFF; fi
  cmake -S "$ORV_ROOT" -B "$ORV_PRODUCT_TREE" -DCMAKE_BUILD_TYPE=Release \
    -DCMAKE_TOOLCHAIN_FILE="$ORV_ROOT/cmake/toolchain-i686-w64-mingw32.cmake" \
    -DORV_BUILD_TESTS=$tests_in_product >/dev/null
  cmake --build "$ORV_PRODUCT_TREE" -j2 "$@"
  if [ "$ORV_TEST_ARCH" != win32 ]; then
    cmake -S "$ORV_ROOT" -B "$ORV_TEST_TREE" -DCMAKE_BUILD_TYPE=Release \
      -DCMAKE_TOOLCHAIN_FILE="$ORV_ROOT/cmake/toolchain-x86_64-w64-mingw32.cmake" \
      -DORV_BUILD_TESTS=ON -DORV_PRODUCT_DIR="$ORV_PRODUCT_TREE/bin" >/dev/null
    cmake --build "$ORV_TEST_TREE" -j2 "$@"
  fi
}

# A Wine prefix inside the build folder, created once.
orv_prepare_prefix() { # tree
  export WINEPREFIX=$1/wineprefix
  export WINEARCH=$ORV_TEST_ARCH
  export WINEDEBUG=-all
  export WINEDLLOVERRIDES="mscoree=;mshtml=;winemenubuilder.exe=d"
  if [ ! -f "$WINEPREFIX/.orv-ready" ]; then
    rm -rf "$WINEPREFIX"
    echo "prefix: creating $WINEPREFIX ($WINEARCH)"
    "$ORV_WINE" wineboot --init >/dev/null 2>&1 </dev/null
    "$ORV_WINE" reg add 'HKCU\Software\Wine\WineDbg' /v ShowCrashDialog /t REG_DWORD /d 0 /f \
      >/dev/null 2>&1 </dev/null
    /usr/lib/wine/wineserver64 -w
    touch "$WINEPREFIX/.orv-ready"
  fi
}

orv_start_display() {
  if [ -n "${ORV_USE_DISPLAY:-}" ] && [ -n "${DISPLAY:-}" ]; then return; fi
  local n=90
  while [ -e /tmp/.X$n-lock ] || [ -e /tmp/.X11-unix/X$n ]; do n=$((n + 1)); done
  Xvfb :$n -screen 0 1280x800x24 -nolisten tcp >/dev/null 2>&1 </dev/null &
  ORV_STARTED_PIDS+=($!)
  export DISPLAY=:$n
  for _ in $(seq 100); do
    [ -e /tmp/.X11-unix/X$n ] && break
    sleep 0.1
  done
}

# A detached wineserver for the prefix, so test programs start quickly and share it.
orv_start_wineserver() {
  /usr/lib/wine/wineserver64 -p >/dev/null 2>&1 </dev/null
}

orv_stop_all() {
  if [ -n "${WINEPREFIX:-}" ]; then
    /usr/lib/wine/wineserver64 -k >/dev/null 2>&1 </dev/null || true
  fi
  local pid
  for pid in "${ORV_STARTED_PIDS[@]}"; do
    kill "$pid" 2>/dev/null || true
  done
  for pid in "${ORV_STARTED_PIDS[@]}"; do
    wait "$pid" 2>/dev/null || true
  done
  ORV_STARTED_PIDS=()
}
