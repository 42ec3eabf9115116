#!/bin/sh
# A real single-node Slurm on this machine (munge, slurmctld and slurmd
# started here on their own ports and directories, stopped at the end) runs
# scripts/cluster/slurm-array.sbatch as a three-task job array: the tasks'
# files equal one run over the whole list byte for byte.
#   slurm-array.sh REELMETER_BATCH SLURM_ARRAY_SBATCH
# Slurm's daemons must run as root: elsewhere the test is skipped (77).
set -eu
batch=$1
arrayScript=$2
[ "$(id -u)" = 0 ] || { echo "SKIP: Slurm's daemons need root" >&2; exit 77; }
. "$(dirname "$0")/common.sh"

: >list
for i in 0 1 2 3 4; do
    make_video "film $i.mkv" 1 64x48
    printf '%s\n' "$work/film $i.mkv" >>list
done
single_run

mkdir -m 700 munge
mkdir state spool
dd if=/dev/urandom of=munge/munge.key bs=1024 count=1 2>/dev/null
chmod 400 munge/munge.key
export SLURM_CONF="$work/slurm.conf"
cat >"$SLURM_CONF" <<CONF
ClusterName=reelmeter-test
SlurmctldHost=$(hostname -s)(127.0.0.1)
SlurmctldPort=16817
SlurmdPort=16818
AuthType=auth/munge
AuthInfo=socket=$work/munge/socket
CredType=cred/munge
SlurmUser=root
StateSaveLocation=$work/state
SlurmdSpoolDir=$work/spool
SlurmctldPidFile=$work/slurmctld.pid
SlurmdPidFile=$work/slurmd.pid
SlurmctldLogFile=$work/slurmctld.log
SlurmdLogFile=$work/slurmd.log
ProctrackType=proctrack/linuxproc
TaskPlugin=task/none
JobAcctGatherType=jobacct_gather/none
AccountingStorageType=accounting_storage/none
SelectType=select/cons_tres
SelectTypeParameters=CR_Core
ReturnToService=2
MpiDefault=none
NodeName=$(hostname -s) NodeAddr=127.0.0.1 CPUs=$(nproc) State=UNKNOWN
PartitionName=test Nodes=ALL Default=YES MaxTime=INFINITE State=UP
CONF

stop_slurm() {
    scontrol shutdown >/dev/null 2>&1 || true
    [ -f munge/pid ] && kill "$(cat munge/pid)" 2>/dev/null || true
    sleep 1
    cd / && rm -rf "$work"
}
trap stop_slurm EXIT
munged --key-file="$work/munge/munge.key" --socket="$work/munge/socket" \
    --pid-file="$work/munge/pid" --log-file="$work/munge/log" \
    --seed-file="$work/munge/seed" --force || fail "munged did not start"
slurmctld -i || fail "slurmctld did not start"
slurmd || fail "slurmd did not start"
tries=0
until [ "$(sinfo -h -o %t 2>/dev/null)" = idle ]; do
    tries=$((tries + 1))
    [ $tries -lt 60 ] || fail "the node never became idle: $(tail -3 slurmctld.log slurmd.log)"
    sleep 0.5
done

# shellcheck disable=SC2086
REELMETER_BATCH=$batch REPORT="$work/report.jsonl" sbatch --array=0-2 --wait --chdir="$work" \
    --output="$work/task-%a.log" "$arrayScript" list $options -o sharded >/dev/null ||
    fail "the job array failed: $(cat task-*.log)"
diff -r single sharded || fail "the tasks' files differ from a single run's"
[ "$(grep -c '"status":"written"' report.jsonl)" = 5 ] || fail "not five videos written"
echo "PASS"
