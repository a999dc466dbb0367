#!/usr/bin/env bash
# A single-node Slurm on this machine, for tests and trying the farm render:
#   slurm-local.sh start DIR   munged, slurmctld and slurmd with a generated key and
#                              configuration; all state, sockets and logs in DIR
#   slurm-local.sh stop DIR    cancels the cluster's jobs and stops the three daemons
# Runs as root (the daemons and the jobs run as root) and needs no systemd. Clients
# reach the cluster through SLURM_CONF: after start, `source DIR/env`. Nothing
# outside DIR is written. Packages: slurm-wlm munge (scripts/deps.sh slurm-wlm munge).
set -euo pipefail

usage() { echo "usage: $0 start|stop DIR" >&2; exit 2; }
[ $# -eq 2 ] || usage
cmd=$1
dir=$2

# wait_for SECONDS COMMAND...: polls until the command succeeds; false after SECONDS.
wait_for() {
  local deadline=$(( $(date +%s) + $1 )); shift
  until "$@" >/dev/null 2>&1; do
    [ "$(date +%s)" -lt "$deadline" ] || return 1
    sleep 0.5
  done
}

# stop_pid FILE NAME: ends the process whose id FILE holds, if it is still NAME.
stop_pid() {
  local file=$1 name=$2 pid
  [ -s "$file" ] || return 0
  pid=$(cat "$file")
  [ -n "$pid" ] && [ "$(cat "/proc/$pid/comm" 2>/dev/null)" = "$name" ] || { rm -f "$file"; return 0; }
  kill -TERM "$pid" 2>/dev/null || true
  if ! wait_for 15 bash -c "[ \"\$(cat /proc/$pid/comm 2>/dev/null)\" != '$name' ]"; then
    echo "slurm-local: $name ($pid) did not stop in 15 s; killing it" >&2
    kill -KILL "$pid" 2>/dev/null || true
  fi
  rm -f "$file"
}

case "$cmd" in
start)
  [ "$(id -u)" -eq 0 ] || { echo "slurm-local: must run as root" >&2; exit 1; }
  for p in munged slurmctld slurmd sbatch sinfo python3; do
    command -v "$p" >/dev/null || { echo "slurm-local: $p not found (install slurm-wlm munge)" >&2; exit 1; }
  done
  mkdir -p "$dir"
  dir=$(cd "$dir" && pwd)
  [ ! -e "$dir/slurm.conf" ] || { echo "slurm-local: $dir already holds a cluster" >&2; exit 1; }
  chmod 700 "$dir"
  # A start that fails part way stops what it had started.
  trap 'rc=$?; [ $rc -eq 0 ] || bash "$0" stop "$dir" >/dev/null 2>&1; exit $rc' EXIT
  mkdir -p "$dir/munge" "$dir/state" "$dir/spool" "$dir/log"
  chmod 700 "$dir/munge"

  # munge with a key of our own on a socket of our own.
  head -c 1024 /dev/urandom > "$dir/munge/munge.key"
  chmod 400 "$dir/munge/munge.key"
  munged --force --socket="$dir/munge/munge.socket" --key-file="$dir/munge/munge.key" \
    --pid-file="$dir/munge/munged.pid" --log-file="$dir/log/munged.log" --seed-file="$dir/munge/munged.seed"
  wait_for 10 test -S "$dir/munge/munge.socket" || { echo "slurm-local: munged did not start" >&2; exit 1; }

  # Two free ports, so that several of these clusters can run side by side.
  read -r ctl_port node_port < <(python3 -c '
import socket
s = [socket.socket() for _ in range(2)]
for x in s: x.bind(("127.0.0.1", 0))
print(*[x.getsockname()[1] for x in s])')
  host=$(hostname -s)
  # The node as slurmd sees it (CPUs, sockets, cores), without the memory figure.
  node=$(slurmd -C | head -n 1 | sed -e 's/ RealMemory=[0-9]*//' -e "s/^NodeName=[^ ]*/NodeName=$host/")
  cat > "$dir/slurm.conf" <<EOF
ClusterName=lumets
SlurmctldHost=$host(127.0.0.1)
SlurmUser=root
SlurmdUser=root
SlurmctldPort=$ctl_port
SlurmdPort=$node_port
AuthType=auth/munge
CredType=cred/munge
AuthInfo=socket=$dir/munge/munge.socket
StateSaveLocation=$dir/state
SlurmdSpoolDir=$dir/spool
SlurmctldPidFile=$dir/slurmctld.pid
SlurmdPidFile=$dir/slurmd.pid
SlurmctldLogFile=$dir/log/slurmctld.log
SlurmdLogFile=$dir/log/slurmd.log
PlugStackConfig=$dir/plugstack.conf
ProctrackType=proctrack/linuxproc
TaskPlugin=task/none
MpiDefault=none
SwitchType=switch/none
JobAcctGatherType=jobacct_gather/none
AccountingStorageType=accounting_storage/none
JobCompType=jobcomp/none
SchedulerType=sched/backfill
SelectType=select/cons_tres
SelectTypeParameters=CR_Core
ReturnToService=2
# Finished jobs stay visible to scontrol and squeue for an hour (no accounting database).
MinJobAge=3600
# A job whose dependency can never be met is cancelled instead of waiting forever.
DependencyParameters=kill_invalid_depend
$node NodeAddr=127.0.0.1 State=UNKNOWN
PartitionName=main Nodes=$host Default=YES MaxTime=INFINITE State=UP
EOF
  : > "$dir/plugstack.conf"
  echo "export SLURM_CONF=$dir/slurm.conf" > "$dir/env"
  export SLURM_CONF="$dir/slurm.conf"

  slurmctld -f "$SLURM_CONF"
  wait_for 30 timeout 5 scontrol ping || { echo "slurm-local: slurmctld did not answer; see $dir/log/slurmctld.log" >&2; exit 1; }
  slurmd -f "$SLURM_CONF" -N "$host"
  if ! wait_for 60 bash -c "timeout 5 sinfo -h -N -o %T | grep -qx idle"; then
    echo "slurm-local: the node did not become idle ($(timeout 5 sinfo -h -N -o %T 2>&1)); see $dir/log" >&2
    exit 1
  fi
  echo "slurm-local: cluster running in $dir (source $dir/env)"
  ;;
stop)
  [ -d "$dir" ] || { echo "slurm-local: no folder $dir" >&2; exit 1; }
  dir=$(cd "$dir" && pwd)
  if [ -f "$dir/slurm.conf" ] && [ -s "$dir/slurmctld.pid" ]; then
    export SLURM_CONF="$dir/slurm.conf"
    # Cancel what is still queued or running, and give it a moment to end.
    jobs=$(timeout 10 squeue -h -o %A 2>/dev/null | sort -u || true)
    if [ -n "$jobs" ]; then
      # shellcheck disable=SC2086
      timeout 10 scancel $jobs 2>/dev/null || true
      wait_for 20 bash -c '[ -z "$(timeout 5 squeue -h -t running,completing 2>/dev/null)" ]' || true
    fi
  fi
  stop_pid "$dir/slurmd.pid" slurmd
  stop_pid "$dir/slurmctld.pid" slurmctld
  stop_pid "$dir/munge/munged.pid" munged
  echo "slurm-local: stopped the cluster in $dir"
  ;;
*) usage ;;
esac
