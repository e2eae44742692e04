#!/bin/bash
# cafe_cache_test.sh ORVANECTL WORK-FOLDER
# The café cache as it ships (tools/cafe-cache/orvane-cache.conf, only its marked values set) in front of
# an upstream nginx serving a mirror root. Two game folders install release 1 through the cache at once,
# then both update to release 2: the upstream sends each file's bytes at most once and the manifest once a
# run, and every installed file is the release's. With the upstream stopped, a fresh game folder fails on
# the manifest with the usual message and gets no file.
set -euo pipefail
orvanectl=$1 work=$2
root=$(cd "$(dirname "$0")/../.." && pwd)
source "$root/scripts/lib.sh"
: "${WINEPREFIX:?WINEPREFIX must be set (scripts/test sets it)}"
wine=${ORV_WINE:-wine}
shipped=$root/tools/cafe-cache/orvane-cache.conf
placeholder_upstream=https://dl1.orvane.example/live/

fail() {
  echo "FAIL: $*" >&2
  exit 1
}

pids=()
stop_servers() {
  local pid
  for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
  for pid in "${pids[@]}"; do wait "$pid" 2>/dev/null || true; done
}
trap stop_servers EXIT

rm -rf "$work"
mkdir -p "$work"/{mirror,cache,release1,release2,games,upstream/temp,cafe/temp}
mirror=$work/mirror
user_line=
if [ "$(id -u)" = 0 ]; then user_line="user root root;"; fi

# Two releases: small files (packed), a loose object of two slices, and a file of more than 4 MiB
# (published in chunks) that release 2 changes in one place.
"$ORV_PYTHON" - "$work/release1" "$work/release2" <<'EOF'
import os, random, sys
rng = random.Random(7)
one = {"Engine.exe": rng.randbytes(200_000), "music/theme.ogg": rng.randbytes(1_500_000),
       "maps/world.pak": rng.randbytes(5 * 2**20 + 4321)}
for i in range(24):
    size = 1500 + i * 2500
    text = ("line %d of the sample data\n" % i).encode() * (size // 20 + 1)
    one["data/part%02d.dat" % i] = rng.randbytes(size) if i % 2 else text[:size]
two = dict(one)
for i in (3, 4, 10):
    two["data/part%02d.dat" % i] = rng.randbytes(4000 + i)
for i in range(3):
    two["data/new/extra%d.dat" % i] = rng.randbytes(9000 + i)
world = bytearray(one["maps/world.pak"])
world[2**21:2**21 + 8192] = rng.randbytes(8192)
two["maps/world.pak"] = bytes(world)
for folder, files in zip(sys.argv[1:], (one, two)):
    for path, data in files.items():
        os.makedirs(os.path.dirname(os.path.join(folder, path)), exist_ok=True)
        with open(os.path.join(folder, path), "wb") as f:
            f.write(data)
EOF

publish() { # release
  local out=$work/publish$1.txt
  if ! timeout 300 "$wine" "$orvanectl" publish "$(orv_windows_path "$work/release$1")" \
    "$(orv_windows_path "$mirror")" --release "$1" --client-version "1.0.$1" >"$out" 2>&1 </dev/null; then
    cat "$out"
    fail "publishing release $1"
  fi
}

# Starts nginx with the configuration file; sets started_pid when it answers on the port.
start_nginx() { # name config port
  local state=$work/$1
  nginx -p "$state" -e "$state/error.log" -c "$2" </dev/null >"$state/nginx.out" 2>&1 &
  started_pid=$!
  pids+=("$started_pid")
  if ! orv_wait_answers "$started_pid" "" "http://127.0.0.1:$3/ready"; then
    cat "$state/error.log" "$state/nginx.out" >&2 || true
    return 1
  fi
}

start_upstream() {
  local attempt
  for attempt in 1 2 3; do
    read -r upstream_port < <(orv_free_ports 1)
    cat >"$work/upstream/nginx.conf" <<EOF
daemon off;
$user_line
worker_processes 1;
pid $work/upstream/nginx.pid;
error_log $work/upstream/error.log warn;
events { worker_connections 256; }
http {
    default_type application/octet-stream;
    gzip off;
    log_format bytes '\$request_uri \$status \$body_bytes_sent';
    access_log $work/upstream/access.log bytes;
    client_body_temp_path $work/upstream/temp/body;
    proxy_temp_path $work/upstream/temp/proxy;
    fastcgi_temp_path $work/upstream/temp/fastcgi;
    uwsgi_temp_path $work/upstream/temp/uwsgi;
    scgi_temp_path $work/upstream/temp/scgi;
    server {
        listen 127.0.0.1:$upstream_port;
        root $mirror;
    }
}
EOF
    if start_nginx upstream "$work/upstream/nginx.conf" "$upstream_port"; then
      upstream_pid=$started_pid
      return 0
    fi
  done
  fail "the upstream nginx did not start"
}

# The shipped file with the marked values set: upstream, port, cache folder and size.
start_cafe() {
  local attempt site=$work/cafe/orvane-cache.conf
  for attempt in 1 2 3; do
    read -r cafe_port < <(orv_free_ports 1)
    sed -e "/# SET: upstream\$/ s|$placeholder_upstream|http://127.0.0.1:$upstream_port/|" \
      -e "/# SET: port\$/ s|listen 8080;|listen 127.0.0.1:$cafe_port;|" \
      -e "/# SET: cache folder\$/ s|/var/cache/orvane-cache|$work/cache|" \
      -e "/# SET: cache size\$/ s|max_size=50g|max_size=1g|" "$shipped" >"$site"
    # The placeholders are gone from every directive (the comments still name them).
    directives=$(sed 's/#.*//' "$site")
    if grep -qE "dl1\.orvane\.example|listen 8080|/var/cache/orvane-cache|max_size=50g" <<<"$directives" ||
      [ "$(grep -c "proxy_pass http://127.0.0.1:$upstream_port/.*# SET: upstream\$" "$site")" != 3 ] ||
      [ "$(grep -c "^ *listen 127.0.0.1:$cafe_port; *# SET: port\$" "$site")" != 1 ] ||
      ! grep -q "^proxy_cache_path $work/cache " "$site"; then
      fail "the marked values of $shipped were not all set: $(diff "$shipped" "$site")"
    fi
    cat >"$work/cafe/nginx.conf" <<EOF
daemon off;
$user_line
worker_processes 2;
pid $work/cafe/nginx.pid;
error_log $work/cafe/error.log warn;
events { worker_connections 256; }
http {
    default_type application/octet-stream;
    access_log $work/cafe/access.log;
    client_body_temp_path $work/cafe/temp/body;
    proxy_temp_path $work/cafe/temp/proxy;
    fastcgi_temp_path $work/cafe/temp/fastcgi;
    uwsgi_temp_path $work/cafe/temp/uwsgi;
    scgi_temp_path $work/cafe/temp/scgi;
    include $site;
}
EOF
    if start_nginx cafe "$work/cafe/nginx.conf" "$cafe_port"; then return 0; fi
  done
  fail "the café cache did not start"
}

update() { # game-folder output-file
  mkdir -p "$1/.orvane"
  printf '# the café cache\nhttp://127.0.0.1:%s/\n' "$cafe_port" >"$1/.orvane/mirrors.txt"
  timeout 300 "$wine" "$orvanectl" update "$(orv_windows_path "$1")" >"$2" 2>&1 </dev/null
}

# Both game folders update at once through the cache, and hold release N.
update_both() { # release
  local name pid status out
  declare -A running=()
  for name in first second; do
    update "$work/games/$name" "$work/games/$name-$1.txt" &
    running[$name]=$!
  done
  for name in first second; do
    out=$work/games/$name-$1.txt
    status=0
    wait "${running[$name]}" || status=$?
    if [ "$status" != 0 ] || grep -qE '^(wine: Unhandled|Unhandled exception:)' "$out"; then
      cat "$out" "$work/games/$name/.orvane/launcher.log" >&2 || true
      fail "the $name game folder did not update to release $1 (exit $status)"
    fi
    diff -r -x .orvane "$work/release$1" "$work/games/$name" >&2 ||
      fail "the $name game folder differs from release $1"
  done
}

publish 1
start_upstream
start_cafe
echo "upstream http://127.0.0.1:$upstream_port/, café cache http://127.0.0.1:$cafe_port/"
update_both 1
publish 2
update_both 2

# The upstream's log: the manifest once a run (its ?t= passed on), and each object, chunk, list, pack and
# index at most once in bytes, however many requests (slices) fetched it.
log=$work/upstream/access.log
manifests=$(grep -cE '^/manifest\.txt\?t=[0-9]+ 200 ' "$log" || true)
[ "$manifests" = 4 ] || fail "the upstream sent $manifests manifests for 4 runs: $(grep manifest "$log")"
unexpected=$(grep -vE '^/(manifest\.txt\?t=[0-9]+|ready|(objects|packs)/[0-9a-f]{2}/[0-9a-f]{64}[.a-z]*) ' "$log" || true)
[ -z "$unexpected" ] || fail "the upstream was asked for $unexpected"
grep -qE '^/packs/.*\.pack 206 ' "$log" || fail "no pack was read through the cache"
over=0
while read -r path sent; do
  size=$(stat -c %s "$mirror$path")
  if [ "$sent" -gt "$size" ]; then
    echo "the upstream sent $sent bytes of $path, which holds $size" >&2
    over=1
  fi
done < <(awk '$1 ~ /^\/(objects|packs)\// { sent[$1] += $3 } END { for (p in sent) print p, sent[p] }' "$log")
[ "$over" = 0 ] || fail "the cache fetched some content twice"

# The cache holds content, and never a manifest.
grep -rlq --binary-files=text '^KEY: /objects/' "$work/cache" || fail "the cache holds no object"
if grep -rlq --binary-files=text '^KEY: /manifest' "$work/cache"; then fail "the cache holds a manifest"; fi

# The upstream is gone: a fresh game folder fails on the manifest and receives nothing.
kill "$upstream_pid"
for _ in $(seq 100); do orv_alive "$upstream_pid" || break; sleep 0.1; done
orv_alive "$upstream_pid" && fail "the upstream nginx did not stop"
out=$work/games/down.txt
status=0
update "$work/games/down" "$out" || status=$?
[ "$status" = 1 ] || { cat "$out" >&2; fail "the update without upstream ended with $status, not 1"; }
grep -q "Cannot reach the update server." "$out" || { cat "$out" >&2; fail "no cannot-reach message"; }
grep -q "HTTP 50[24]" "$out" || { cat "$out" >&2; fail "the message does not name the cache's 502 or 504"; }
left=$(cd "$work/games/down" && find . -path ./.orvane -prune -o -type f -print)
[ -z "$left" ] || fail "the update without upstream left game files: $left"
echo "café cache: 2 installs and 2 updates, each file from the upstream at most once; without upstream the update fails on the manifest"
