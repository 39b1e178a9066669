#!/usr/bin/env bash
# Runs the liveness simulation over many seeds in a row: every scenario, seeds
# FROM .. FROM+SEEDS-1, split over JOBS processes. A failure names its scenario
# and seed; replay it with
#   LUMORA_SIM_SEED=<seed> build/native/liveness_sim --gtest_filter='*<scenario>'
#
#   scripts/sim-seeds.sh [--build DIR] [--seeds N] [--from S] [--days D] [--jobs J] [--log DIR] [--filter F]
#
# --filter takes a GoogleTest filter and runs only those scenarios, e.g.
#   --filter '*/never_an_image:*/5xx_storms'
#
# --days shortens every scenario (default: each its full length, 30 simulated
# days); every scheduled event of the scenarios lies within the first 4 days.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build="$root/build/native" seeds=500 from=1 days="" jobs=2 log="" filter="*"
while [ $# -gt 0 ]; do
  case "$1" in
    --build) build=$2; shift 2 ;;
    --seeds) seeds=$2; shift 2 ;;
    --from) from=$2; shift 2 ;;
    --days) days=$2; shift 2 ;;
    --jobs) jobs=$2; shift 2 ;;
    --log) log=$2; shift 2 ;;
    --filter) filter=$2; shift 2 ;;
    *) echo "usage: $0 [--build DIR] [--seeds N] [--from S] [--days D] [--jobs J] [--log DIR] [--filter F]" >&2; exit 2 ;;
  esac
done
sim="$build/liveness_sim"
[ -x "$sim" ] || { echo "no $sim: build the native preset first" >&2; exit 2; }
[ "$jobs" -ge 1 ] && [ "$seeds" -ge "$jobs" ] || { echo "need 1 <= jobs <= seeds" >&2; exit 2; }
log=${log:-$(mktemp -d /tmp/lumora-sim-seeds.XXXXXX)}
mkdir -p "$log"

start=$(date +%s)
per=$(( (seeds + jobs - 1) / jobs ))
pids=()
for ((j = 0; j < jobs; j++)); do
  s=$(( from + j * per ))
  n=$(( per < from + seeds - s ? per : from + seeds - s ))
  [ "$n" -gt 0 ] || continue
  (
    export LUMORA_SIM_SEED=$s LUMORA_SIM_SEEDS=$n
    [ -n "$days" ] && export LUMORA_SIM_DAYS=$days
    # Line-buffered, so a job's log shows each scenario as it ends.
    stdbuf -oL "$sim" --gtest_brief=1 --gtest_filter="$filter" >"$log/job$j.log" 2>&1
  ) &
  pids+=($!)
done
rc=0
for p in "${pids[@]}"; do wait "$p" || rc=1; done

echo "seeds $from..$((from + seeds - 1)), ${days:-full} simulated days each, $jobs jobs, $(( $(date +%s) - start )) s (logs in $log)"
# Per scenario: the seeds that passed, summed over the jobs.
sed -nE 's/^\[ sim +\] (.*[^ ]) +([0-9]+) seeds from [0-9]+ passed$/\1\t\2/p' "$log"/job*.log |
  awk -F'\t' '{ if (!($1 in pass)) names[++k] = $1; pass[$1] += $2 }
    END { for (i = 1; i <= k; i++) printf "  %-34s %d seeds passed\n", names[i], pass[names[i]] }'
if [ "$rc" -ne 0 ] || grep -q "FAILED" "$log"/job*.log; then
  echo "FAILED:"
  grep -h -A5 ": Failure$" "$log"/job*.log | grep -E "seed [0-9]+" | head -20
  exit 1
fi
echo "all passed"
