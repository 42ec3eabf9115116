#!/bin/sh
# One task of a Slurm job array of reelmeter-batch over the videos of LIST:
# task K of N reads every Nth video, starting at the Kth. Submit with
#
#   sbatch --array=0-(N-1) scripts/cluster/slurm-array.sbatch LIST [options...]
#
# and submit the same again after a failure: --skip-existing makes every task
# redo only the videos whose files are missing. LIST, the videos and the output
# directory must be on a file system every node shares.
#SBATCH --job-name=reelmeter
#SBATCH --cpus-per-task=2
#SBATCH --output=reelmeter-%A-%a.log
set -eu
list=$1
shift
exec "${REELMETER_BATCH:-reelmeter-batch}" --from "$list" \
    --shard "$SLURM_ARRAY_TASK_ID/$SLURM_ARRAY_TASK_COUNT" \
    --skip-existing --report "${REPORT:-reelmeter-report.jsonl}" "$@"
