#!/bin/sh
# Runs every fuzz_* binary in a folder for a set time with its seed corpus
# (copied to a scratch folder so seeds stay untouched) and prints the counts.
# With a fourth argument each target runs that many executions instead.
# usage: run-fuzzers.sh BIN_DIR SECONDS CORPUS_DIR [RUNS]
set -eu
bin="$1"; seconds="$2"; corpus="$3"; runs="${4:-}"
if [ -n "$runs" ]; then
    limit="-runs=$runs"; what="$runs runs"
else
    limit="-max_total_time=$seconds"; what="$seconds s"
fi
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
status=0
for target in "$bin"/fuzz_*; do
    name=$(basename "$target")
    mkdir -p "$work/$name"
    [ -d "$corpus/$name" ] && cp -r "$corpus/$name/." "$work/$name/"
    echo "== $name ($what)"
    if QT_QPA_PLATFORM=offscreen LSAN_OPTIONS=suppressions=$(pwd)/tools/lsan.supp \
        "$target" "$limit" -print_final_stats=1 -artifact_prefix="$work/" \
        "$work/$name" > "$work/$name.log" 2>&1; then
        grep -E 'stat::number_of_executed_units|stat::average_exec_per_sec|stat::peak_rss_mb' "$work/$name.log" || true
    else
        status=1
        tail -40 "$work/$name.log"
        cp "$work"/crash-* "$work"/leak-* "$work"/timeout-* . 2>/dev/null || true
    fi
done
exit $status
