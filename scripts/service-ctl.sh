#!/usr/bin/env bash
# The stand-in service for a test run.
#   service-ctl.sh start DIR     starts one on a free port; DIR receives "port", "url" and "pid"
#   service-ctl.sh stop DIR      stops the one started in DIR
#   service-ctl.sh run CMD...    starts one of its own in a new folder, runs CMD with
#                                LUMORA_TEST_SERVICE_DIR naming that folder, stops it and
#                                exits with CMD's status (so tests that need a service
#                                can run side by side, each with its own)
# Tests read "url" from LUMORA_TEST_SERVICE_DIR.
set -euo pipefail
cmd=$1; shift; root="$(cd "$(dirname "$0")/.." && pwd)"
start() {
  local dir=$1
  mkdir -p "$dir"; rm -f "$dir/port" "$dir/url"
  [ -f "$dir/pid" ] && kill "$(cat "$dir/pid")" 2>/dev/null || true
  nohup python3 "$root/tools/lumora_service.py" --port 0 --port-file "$dir/port" --rate-limit 0 \
    --log "$dir/service.log" >"$dir/stdout.log" 2>&1 </dev/null &
  echo $! > "$dir/pid"
  for _ in $(seq 200); do [ -s "$dir/port" ] && break; sleep 0.05; done
  [ -s "$dir/port" ] || { echo "the stand-in service did not start:"; cat "$dir/stdout.log"; return 1; }
  echo "http://127.0.0.1:$(cat "$dir/port")" > "$dir/url"
}
stop() {
  [ -f "$1/pid" ] && kill "$(cat "$1/pid")" 2>/dev/null || true
  rm -f "$1/pid"
}
case "$cmd" in
  start) start "$1" >&2; cat "$1/url" ;;
  stop) stop "$1" ;;
  run)
    dir="$(mktemp -d "${TMPDIR:-/tmp}/lumora-service.XXXXXX")"
    trap 'stop "$dir"; rm -rf "$dir"' EXIT
    trap 'exit 130' INT TERM
    start "$dir"
    export LUMORA_TEST_SERVICE_DIR="$dir"
    set +e
    "$@"
    rc=$?
    # On a failure the service's own output tells what it saw.
    if [ $rc != 0 ] && [ -s "$dir/stdout.log" ]; then echo "--- stand-in service output:"; tail -n 40 "$dir/stdout.log"; fi
    exit $rc ;;
  *) echo "usage: service-ctl.sh start|stop DIR | run CMD..." >&2; exit 2 ;;
esac
