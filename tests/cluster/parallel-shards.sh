#!/bin/sh
# GNU parallel runs a list as three shards with two slots: their files equal
# one run over the whole list byte for byte; a shard killed part way is rerun
# by --resume-failed and, with --skip-existing, redoes only what is missing;
# the report has every video once per status.
#   parallel-shards.sh REELMETER_BATCH RUN_PARALLEL
set -eu
batch=$1
runParallel=$2
. "$(dirname "$0")/common.sh"

# Shard 1 of 3 reads positions 1, 4 and 7: a short video, then a long one to
# be killed in.
: >list
for i in 0 1 2 3 4 5 6 7; do
    name="film $i.mkv"
    if [ "$i" = 4 ]; then
        make_video "$name" 120 640x360
    else
        make_video "$name" 1 64x48
    fi
    printf '%s\n\n' "$work/$name" >>list
done
printf '%s\n' "$work/film 2.mkv" >>list

single_run

run_shards() {
    # shellcheck disable=SC2086
    REELMETER_BATCH=$batch SLOTS=2 JOBLOG=joblog REPORT=report.jsonl \
        "$runParallel" list 3 $options -o sharded
}

run_shards &
runner=$!
# Kill shard 1 once it has finished its first video.
tries=0
until grep -q "film 1.mkv" report.jsonl 2>/dev/null; do
    tries=$((tries + 1))
    [ $tries -lt 1200 ] || fail "shard 1 never finished its first video"
    sleep 0.05
done
pkill -KILL -f -- "--shard 1/3" || fail "shard 1 had already ended"
wait $runner && fail "parallel did not see shard 1 fail"
[ -e "sharded/film 4.mkv-colours.csv" ] && fail "shard 1 was not killed part way"

run_shards || fail "the rerun failed"
diff -r single sharded || fail "the shards' files differ from a single run's"

for i in 0 1 2 3 4 5 6 7; do
    written=$(grep -c "film $i.mkv\",\"pictures\":[0-9]*,\"seconds\":[0-9.e-]*,\"status\":\"written\"" \
        report.jsonl || true)
    [ "$written" = 1 ] || fail "film $i.mkv written $written times in the report"
done
skipped=$(grep -c '"status":"skipped"' report.jsonl || true)
[ "$skipped" = 1 ] || fail "$skipped videos skipped, expected film 1.mkv only"
grep '"status":"skipped"' report.jsonl | grep -q "film 1.mkv" || fail "the wrong video was skipped"
! grep -q '"status":"failed"' report.jsonl || fail "a video failed"
echo "PASS"
