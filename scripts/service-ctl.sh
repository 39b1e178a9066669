#!/usr/bin/env bash
# Starts or stops the stand-in service for a test run: service-ctl.sh start|stop DIR
# DIR receives "port", "url" and "pid"; tests read "url".
set -euo pipefail
cmd=$1; dir=$2; root="$(cd "$(dirname "$0")/.." && pwd)"
case "$cmd" in
  start)
    mkdir -p "$dir"; rm -f "$dir/port" "$dir/url"
    [ -f "$dir/pid" ] && kill "$(cat "$dir/pid")" 2>/dev/null || true
    nohup python3 "$root/tools/lumora_service.py" --port 0 --port-file "$dir/port" --rate-limit 0 \
      --log "$dir/service.log" >"$dir/stdout.log" 2>&1 &
    echo $! > "$dir/pid"
    for _ in $(seq 100); do [ -s "$dir/port" ] && break; sleep 0.05; done
    [ -s "$dir/port" ] || { echo "service did not start"; cat "$dir/stdout.log"; exit 1; }
    echo "http://127.0.0.1:$(cat "$dir/port")" > "$dir/url"; cat "$dir/url";;
  stop)
    [ -f "$dir/pid" ] && kill "$(cat "$dir/pid")" 2>/dev/null || true
    rm -f "$dir/pid";;
esac
