#!/usr/bin/env bash
# run-fuzz.sh HARNESS SCRATCH SEEDS: runs one libFuzzer harness for
# TZR_FUZZ_SECONDS (10 unless set) from the scratch corpus, seeded by the
# checked-in one, which stays untouched. A finding ends the run with the
# crashing input saved beside the scratch corpus.
set -euo pipefail
harness=$1 scratch=$2 seeds=$3
mkdir -p "$scratch"
cd "$(dirname "$scratch")"
exec "$harness" -max_total_time="${TZR_FUZZ_SECONDS:-10}" -timeout=10 -rss_limit_mb=2048 \
  -print_final_stats=1 "$scratch" "$seeds"
