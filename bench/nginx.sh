#!/usr/bin/env bash
# A private nginx on loopback for the transfer benchmarks: the reference
# server is C with sendfile, so a ratio measures the clients, not the server.
#
#   bench/nginx.sh start DIR [BIG_MIB] [SMALL_COUNT] [SMALL_KIB]
#       generates DIR/www (files that start with a JPEG signature), starts
#       nginx with its own configuration in DIR, writes its base URL to DIR/url
#   bench/nginx.sh stop DIR
#       stops the nginx started for DIR (by the PID it wrote), keeps the files
#
# Paths it serves (all the same files):
#   /f/big.jpg            BIG_MIB (default 200) MiB
#   /f/small/NNN.jpg      SMALL_COUNT (default 100) files of SMALL_KIB (default 300) KiB
#   /trickle/big.jpg      the big file at 4 KiB/s from the first byte
#   /burst/big.jpg        the big file: 8 MiB at full speed, then 4 KiB/s
set -euo pipefail
cmd="${1:?start|stop}"
dir="${2:?DIR}"
nginx_bin="${NGINX:-/usr/sbin/nginx}"

stop() {
  if [ -s "$dir/nginx.pid" ]; then
    pid="$(cat "$dir/nginx.pid")"
    # The master's PID as nginx itself wrote it; QUIT lets the worker finish.
    kill -QUIT "$pid" 2>/dev/null || true
    for _ in $(seq 50); do kill -0 "$pid" 2>/dev/null || break; sleep 0.1; done
    kill -KILL "$pid" 2>/dev/null || true
    rm -f "$dir/nginx.pid"
  fi
}

case "$cmd" in
stop)
  stop
  exit 0
  ;;
start) ;;
*)
  echo "usage: $0 start|stop DIR" >&2
  exit 2
  ;;
esac

[ -x "$nginx_bin" ] || { echo "nginx is not installed (scripts/bootstrap.sh installs nginx-light)" >&2; exit 2; }
big_mib="${3:-200}"
small_count="${4:-100}"
small_kib="${5:-300}"
mkdir -p "$dir/www/f/small" "$dir/tmp" "$dir/logs"

# A JPEG signature (SOI + APP0 "JFIF") on random bytes: the client checks the
# first bytes, and random data keeps anything from compressing the transfer.
make_file() {  # PATH BYTES
  local path="$1" bytes="$2"
  [ -f "$path" ] && [ "$(stat -c %s "$path")" = "$bytes" ] && return 0
  {
    printf '\xff\xd8\xff\xe0\x00\x10JFIF\x00'
    head -c "$((bytes - 11))" /dev/urandom
  } > "$path.part"
  mv "$path.part" "$path"
}
make_file "$dir/www/f/big.jpg" "$((big_mib * 1048576))"
for i in $(seq -f '%03g' 1 "$small_count"); do make_file "$dir/www/f/small/$i.jpg" "$((small_kib * 1024))"; done

port="$(python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])')"
cat > "$dir/nginx.conf" <<CONF
worker_processes 1;
pid $dir/nginx.pid;
error_log $dir/logs/error.log warn;
user root;
events { worker_connections 512; }
http {
    access_log off;
    sendfile on;
    tcp_nopush on;
    keepalive_timeout 5;
    types { image/jpeg jpg; }
    default_type application/octet-stream;
    client_body_temp_path $dir/tmp/body;
    proxy_temp_path $dir/tmp/proxy;
    fastcgi_temp_path $dir/tmp/fastcgi;
    uwsgi_temp_path $dir/tmp/uwsgi;
    scgi_temp_path $dir/tmp/scgi;
    server {
        listen 127.0.0.1:$port;
        root $dir/www;
        location /f/ { }
        location /trickle/ { alias $dir/www/f/; limit_rate 4k; }
        location /burst/ { alias $dir/www/f/; limit_rate_after 8m; limit_rate 4k; }
    }
}
CONF
rm -f "$dir/nginx.pid"
"$nginx_bin" -p "$dir" -e "$dir/logs/error.log" -c "$dir/nginx.conf"
for _ in $(seq 50); do [ -s "$dir/nginx.pid" ] && break; sleep 0.1; done
[ -s "$dir/nginx.pid" ] || { echo "nginx did not start:" >&2; cat "$dir/logs/error.log" >&2; exit 1; }
url="http://127.0.0.1:$port"
for _ in $(seq 50); do curl -sf -o /dev/null "$url/f/small/001.jpg" && break; sleep 0.1; done
echo "$url" > "$dir/url"
echo "$url"
