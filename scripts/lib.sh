# Shared by scripts/test and scripts/demo: build trees, the Wine prefix, Xvfb and wineserver, and
# the download mirrors the tests talk to (nginx over http and https, and the fault server).
# Source it; it defines functions and sets ORV_* variables.

ORV_ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
ORV_BUILD=${ORV_BUILD:-$ORV_ROOT/build}
ORV_STARTED_PIDS=()
ORV_PYTHON=${ORV_PYTHON:-/usr/bin/python3}
if [ ! -x "$ORV_PYTHON" ]; then ORV_PYTHON=python3; fi

# Wine runs 32-bit programs only where the kernel runs 32-bit user code. Elsewhere the same
# sources are built for x86_64 and run in a 64-bit prefix; the shipped program stays 32-bit.
# ORV_TEST_ARCH=win64 asks for the 64-bit way on a machine that could run either.
orv_detect_arch() {
  if [ "${ORV_TEST_ARCH:-}" = win64 ]; then
    ORV_TEST_ARCH=win64
    ORV_WINE=/usr/lib/wine/wine64
  elif /usr/lib/wine/wine --version >/dev/null 2>&1; then
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
  # Wine links the profile's desktop and document folders to the Unix home, which every prefix on
  # the machine shares. Tests make and remove shortcuts on the desktop, so each prefix keeps folders
  # of its own.
  local linked
  for linked in "$WINEPREFIX"/drive_c/users/*/{Desktop,Documents,Downloads,Music,Pictures,Videos}; do
    if [ -L "$linked" ]; then
      rm -f "$linked" && mkdir -p "$linked"
    fi
  done
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

# The Windows path of a Unix path (Wine's drive Z: is the Unix root).
orv_windows_path() { # path
  local path=$1
  printf 'Z:%s\n' "${path//\//\\}"
}

# Distinct free TCP ports on 127.0.0.1.
orv_free_ports() { # count
  "$ORV_PYTHON" - "$1" <<'EOF'
import socket, sys
sockets = []
for _ in range(int(sys.argv[1])):
    s = socket.socket()
    s.bind(("127.0.0.1", 0))
    sockets.append(s)
print(" ".join(str(s.getsockname()[1]) for s in sockets))
EOF
}

# Waits up to 30 s until every URL answers with any HTTP status (https ones checked against the CA
# file, when given) while the process lives. Fails when it ends or the time is up.
orv_wait_answers() { # pid cafile url...
  "$ORV_PYTHON" - "$@" <<'EOF'
import ssl, sys, time, urllib.error, urllib.request
pid, cafile, urls = sys.argv[1], sys.argv[2], sys.argv[3:]
handlers = [urllib.request.ProxyHandler({})]
if cafile:
    handlers.append(urllib.request.HTTPSHandler(context=ssl.create_default_context(cafile=cafile)))
opener = urllib.request.build_opener(*handlers)

def alive():
    try:
        with open("/proc/%s/stat" % pid) as f:
            return f.read().rsplit(")", 1)[1].split()[0] != "Z"
    except OSError:
        return False

def answers(url):
    try:
        opener.open(url, timeout=2).close()
    except urllib.error.HTTPError:
        pass
    except Exception:
        return False
    return True

end = time.monotonic() + 30
pending = list(urls)
while pending and alive() and time.monotonic() < end:
    pending = [url for url in pending if not answers(url)]
    if pending:
        time.sleep(0.1)
sys.exit(1 if pending else 0)
EOF
}

# Whether the process runs (a child that ended but was not waited for does not).
orv_alive() { # pid
  local stat
  stat=$(cat "/proc/$1/stat" 2>/dev/null) || return 1
  stat=${stat##*) }
  [ "${stat%% *}" != Z ]
}

# Ends a server left behind by an earlier run that was killed before it could clean up: the
# process in the pid file, only when its command line still names the marker.
orv_stop_stale() { # pidfile marker
  local pid
  pid=$(cat "$1" 2>/dev/null || true)
  if [ -n "$pid" ] && tr '\0' ' ' 2>/dev/null <"/proc/$pid/cmdline" | grep -qF -- "$2"; then
    kill "$pid" 2>/dev/null || true
    for _ in $(seq 50); do
      orv_alive "$pid" || break
      sleep 0.1
    done
  fi
  rm -f "$1"
}

orv_forget_pid() { # pid
  local kept=() pid
  for pid in "${ORV_STARTED_PIDS[@]}"; do
    if [ "$pid" != "$1" ]; then kept+=("$pid"); fi
  done
  ORV_STARTED_PIDS=("${kept[@]}")
}

# A self-signed certificate for "localhost", made once and again only when it nears its end.
orv_make_certificate() { # folder
  local dir=$1
  if [ -s "$dir/localhost.key" ] &&
    openssl x509 -checkend 86400 -noout -in "$dir/localhost.crt" >/dev/null 2>&1; then
    return 0
  fi
  mkdir -p "$dir"
  echo "mirrors: making a certificate for localhost in $dir"
  openssl req -x509 -newkey rsa:2048 -nodes -sha256 -days 3650 -subj /CN=localhost \
    -addext subjectAltName=DNS:localhost -addext extendedKeyUsage=serverAuth \
    -keyout "$dir/localhost.key.new" -out "$dir/localhost.crt.new" >/dev/null 2>&1
  mv -f "$dir/localhost.key.new" "$dir/localhost.key"
  mv -f "$dir/localhost.crt.new" "$dir/localhost.crt"
}

# nginx serving the mirror root over http (127.0.0.1) and https (localhost), each on a free port.
# ORV_NGINX_LOCATION, when set, holds directives for its one location (a benchmark's rate limit).
orv_start_nginx() {
  local state=$ORV_SERVERS/nginx tls=$ORV_SERVERS/tls user_line= attempt pid http_port https_port
  mkdir -p "$state/temp"
  orv_stop_stale "$state/nginx.pid" "$state/nginx.conf"
  : >"$state/access.log"
  : >"$state/error.log"
  : >"$state/nginx.out"
  if [ "$(id -u)" = 0 ]; then user_line="user root root;"; fi
  for attempt in 1 2 3; do
    read -r http_port https_port < <(orv_free_ports 2)
    sed -e "s|@USER_LINE@|$user_line|" -e "s|@STATE@|$state|g" -e "s|@TLS@|$tls|g" \
      -e "s|@LOCATION@|${ORV_NGINX_LOCATION:-}|" \
      -e "s|@MIRROR@|$ORV_MIRROR|g" -e "s|@HTTP_PORT@|$http_port|g" -e "s|@HTTPS_PORT@|$https_port|g" \
      "$ORV_ROOT/tests/support/nginx.conf.in" >"$state/nginx.conf"
    nginx -p "$state" -e "$state/error.log" -c "$state/nginx.conf" </dev/null >>"$state/nginx.out" 2>&1 &
    pid=$!
    ORV_STARTED_PIDS+=("$pid")
    if orv_wait_answers "$pid" "$tls/localhost.crt" "http://127.0.0.1:$http_port/" \
      "https://localhost:$https_port/"; then
      export ORV_HTTP_BASE="http://127.0.0.1:$http_port/"
      ORV_NGINX_ACCESS_LOG=$(orv_windows_path "$state/access.log")
      export ORV_NGINX_ACCESS_LOG
      export ORV_HTTPS_BASE="https://localhost:$https_port/"
      return 0
    fi
    kill "$pid" 2>/dev/null || true
    wait "$pid" 2>/dev/null || true
    orv_forget_pid "$pid"
  done
  echo "mirrors: nginx did not start; see $state/error.log and $state/nginx.out" >&2
  tail -n 5 "$state/error.log" "$state/nginx.out" >&2 || true
  return 1
}

# tests/support/fault_server.py on a free port, over the same mirror root.
orv_start_fault_server() {
  local state=$ORV_SERVERS/fault pid port=
  mkdir -p "$state"
  orv_stop_stale "$state/server.pid" fault_server.py
  rm -f "$state/port"
  "$ORV_PYTHON" "$ORV_ROOT/tests/support/fault_server.py" --root "$ORV_MIRROR" --port-file "$state/port" \
    </dev/null >"$state/server.log" 2>&1 &
  pid=$!
  ORV_STARTED_PIDS+=("$pid")
  echo "$pid" >"$state/server.pid"
  for _ in $(seq 300); do
    port=$(cat "$state/port" 2>/dev/null || true)
    if [ -n "$port" ] || ! orv_alive "$pid"; then break; fi
    sleep 0.1
  done
  if [ -z "$port" ] || ! orv_wait_answers "$pid" "" "http://127.0.0.1:$port/"; then
    echo "mirrors: the fault server did not start; see $state/server.log" >&2
    tail -n 20 "$state/server.log" >&2 || true
    return 1
  fi
  rm -f "$ORV_MIRROR/_fault/requests.log"
  export ORV_FAULT_BASE="http://127.0.0.1:$port/"
}

# The download mirrors for the tests, over an emptied mirror root in the test build tree. Exports
# ORV_MIRROR_ROOT (as a Windows path), ORV_HTTP_BASE, ORV_HTTPS_BASE and ORV_FAULT_BASE; the
# servers' pids go to ORV_STARTED_PIDS, so orv_stop_all ends them.
orv_start_mirrors() {
  ORV_SERVERS=$ORV_TEST_TREE/servers
  ORV_MIRROR=$ORV_TEST_TREE/mirror
  rm -rf "$ORV_MIRROR"
  mkdir -p "$ORV_MIRROR/_fault" "$ORV_SERVERS"
  orv_make_certificate "$ORV_SERVERS/tls"
  orv_start_nginx
  orv_start_fault_server
  export ORV_MIRROR_ROOT
  ORV_MIRROR_ROOT=$(orv_windows_path "$ORV_MIRROR")
  echo "mirrors: $ORV_HTTP_BASE $ORV_HTTPS_BASE, faults $ORV_FAULT_BASE, root $ORV_MIRROR"
}

# Makes the prefix's WinHTTP trust the mirrors' certificate: adds it to the user's Root store.
orv_trust_certificate() {
  local out=$ORV_SERVERS/tls/orvtrust.txt
  if ! "$ORV_WINE" "$ORV_TEST_TREE/bin/orvtrust.exe" \
    "$(orv_windows_path "$ORV_SERVERS/tls/localhost.crt")" >"$out" 2>&1 </dev/null; then
    echo "mirrors: could not add the certificate to the prefix's Root store:" >&2
    cat "$out" >&2
    return 1
  fi
}

# Children and grandchildren of a process, deepest last.
orv_descendants() { # pid
  local child
  for child in $(pgrep -P "$1" 2>/dev/null); do
    echo "$child"
    orv_descendants "$child"
  done
}

# Small disks for the tests of a full disk and of the free-space check: tmpfs mounts in the test
# build tree, made when running as root and the kernel permits it. ORV_SMALL_DISK (8 MiB) and
# ORV_SPACE_DISK (256 MiB, room for the update's 200 MiB reserve) are exported (as Windows paths) only
# when mounted; the tests that need them are skipped otherwise. orv_stop_all unmounts them.
ORV_MOUNTED_DISKS=()

orv_mount_disk() { # name size variable
  local dir=$ORV_TEST_TREE/$1
  mkdir -p "$dir"
  # Left mounted by an earlier run that was killed before it could clean up.
  if mountpoint -q "$dir"; then umount "$dir" 2>/dev/null || umount -l "$dir" 2>/dev/null || true; fi
  if mount -t tmpfs -o "size=$2,mode=0777" "orv-$1" "$dir" 2>/dev/null; then
    ORV_MOUNTED_DISKS+=("$dir")
    export "$3=$(orv_windows_path "$dir")"
    echo "small disk: $2 tmpfs at $dir"
  else
    echo "small disk: mounting a tmpfs is not permitted here, the tests that need $1 are skipped"
  fi
}

orv_mount_small_disk() {
  unset ORV_SMALL_DISK ORV_SPACE_DISK ORV_READONLY_DISK
  if [ "$(id -u)" != 0 ]; then
    echo "small disk: not root, the full-disk, free-space and read-only tests are skipped"
    return 0
  fi
  orv_mount_disk small-disk 8m ORV_SMALL_DISK
  orv_mount_disk space-disk 256m ORV_SPACE_DISK
  # Read-only: root, as tests run, is refused writes there as any user on a read-only folder.
  orv_mount_disk readonly-disk 1m ORV_READONLY_DISK
  if [ -n "${ORV_READONLY_DISK:-}" ] &&
    ! mount -o remount,ro "$ORV_TEST_TREE/readonly-disk" 2>/dev/null; then
    echo "small disk: cannot make readonly-disk read-only, the read-only tests are skipped"
    unset ORV_READONLY_DISK
  fi
}

orv_unmount_small_disk() {
  local dir
  for dir in "${ORV_MOUNTED_DISKS[@]}"; do
    # Lazily when something still holds a file there; the mount goes away with its last user.
    umount "$dir" 2>/dev/null || umount -l "$dir" 2>/dev/null || true
  done
  ORV_MOUNTED_DISKS=()
  unset ORV_SMALL_DISK ORV_SPACE_DISK ORV_READONLY_DISK
}

# Ends what the script started (with what those started, like the test a running ctest was on)
# first, so nothing starts Wine again after the wineserver is stopped; then unmounts the small disk.
orv_stop_all() {
  local pid targets=()
  for pid in "${ORV_STARTED_PIDS[@]}"; do
    targets+=("$pid" $(orv_descendants "$pid"))
  done
  if [ ${#targets[@]} -gt 0 ]; then
    kill "${targets[@]}" 2>/dev/null || true
  fi
  if [ -n "${WINEPREFIX:-}" ]; then
    /usr/lib/wine/wineserver64 -k >/dev/null 2>&1 </dev/null || true
  fi
  for pid in "${ORV_STARTED_PIDS[@]}"; do
    wait "$pid" 2>/dev/null || true
  done
  ORV_STARTED_PIDS=()
  orv_unmount_small_disk
}
