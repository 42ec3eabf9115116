# Shared by the cluster tests: a work directory, test videos and the single
# run the shards must equal. Sourced after setting batch.
set -eu
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work"

fail() {
    echo "FAIL: $*" >&2
    exit 1
}

make_video() { # NAME SECONDS SIZE
    ffmpeg -nostdin -loglevel error -f lavfi -i "testsrc2=size=$3:rate=25" -t "$2" \
        -c:v mpeg4 -q:v 5 "$1"
}

options="-q --strips all --csv --width 40 --format png"

# The files of one run over the whole list, in single/.
single_run() {
    # shellcheck disable=SC2086
    "$batch" $options --from list -o single || fail "the single run failed"
}
