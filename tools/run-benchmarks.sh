#!/bin/sh
# Runs every benchmark program once, for docs/benchmarks.md. Takes a few minutes; run it on an
# otherwise idle machine.
#   tools/run-benchmarks.sh BUILD_DIR
set -eu
bench=${1:-build/release}/bench
export QT_QPA_PLATFORM=offscreen
for program in bench_sample_path bench_drawing bench_recording_tick bench_recording_file; do
    echo "== $program"
    "$bench/$program" --benchmark_repetitions=5 --benchmark_report_aggregates_only=true
done
echo "== bench_interval (simulated sensor, 10 s per rate)"
"$bench/bench_interval" 10
echo "== bench_iio_interval (IIO driver on a fake tree, 10 s per rate)"
"$bench/bench_iio_interval" 10
echo "== bench_iio_buffered (IIO buffer against polling in umockdev's sysfs, 10 s per rate)"
"$bench/bench_iio_buffered" 10
echo "== bench_graph_cpu (graph at 120 Hz for 30 s, ratio 1 and 2)"
"$bench/bench_graph_cpu" 30 1
"$bench/bench_graph_cpu" 30 2
echo "== bench_recordings_load (the recordings window with 30, 100 and 300 MB files in /tmp)"
"$bench/bench_recordings_load" 30 100 300
