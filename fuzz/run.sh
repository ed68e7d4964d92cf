#!/usr/bin/env bash
# Builds the fuzzers and runs each for SECONDS (default 30) on a copy of the seed corpus.
#   fuzz/run.sh            short run, as CI does
#   SECONDS_EACH=900 fuzz/run.sh   a long run
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${SECONDS_EACH:-30}
cmake --preset fuzz >/dev/null
cmake --build --preset fuzz -j"$(nproc)" >/dev/null
for target in distortion names riff; do
    corpus=$(mktemp -d)
    cp fuzz/corpus/$target/* "$corpus/"
    echo "fuzz: $target for ${seconds}s"
    status=0
    "build/fuzz/fuzz/fuzz_$target" -max_total_time="$seconds" -max_len=70000 -print_final_stats=1 "$corpus" \
        >"$corpus.log" 2>&1 || status=$?
    grep -E 'stat::number_of_executed_units|stat::peak_rss|ERROR|SUMMARY|Done' "$corpus.log" || true
    [ "$status" -eq 0 ] || tail -n 40 "$corpus.log"
    rm -f "$corpus.log"
    rm -rf "$corpus"
    [ "$status" -eq 0 ] || { echo "fuzz: $target FAILED (exit $status)"; exit 1; }
done
