# A private one-node Slurm cluster on this machine, for the job-array test and benchmark (sourced by bash).
# slurm_cluster_start DIR: MUNGE with its own key and socket, slurmctld and slurmd on two free ports, every
# file under DIR (DIR and the folders above it must be searchable by all, as munged requires); exports
# SLURM_CONF, answers once the node is idle. slurm_cluster_stop: cancels the jobs, then stops each daemon it
# started by its process id (TERM, then KILL after 5 s). slurm_cluster_missing: the programs not installed.
slurm_daemons=()

slurm_cluster_missing() {
  local program
  for program in slurmctld slurmd munged sbatch squeue scancel sinfo; do
    PATH="$PATH:/usr/sbin:/sbin" command -v "$program" >/dev/null || printf '%s ' "$program"
  done
}

slurm_cluster_start() {
  local dir="$1" ports host state
  export PATH="$PATH:/usr/sbin:/sbin"
  local variable
  for variable in $(compgen -e | grep '^SLURM_' || true); do unset "$variable"; done  # run inside a job
  mkdir -p "$dir/munge" "$dir/socket" "$dir/log" "$dir/state" "$dir/spool"
  chmod 700 "$dir/munge"
  chmod 755 "$dir/socket"
  head -c 1024 /dev/urandom >"$dir/munge/key"
  chmod 400 "$dir/munge/key"
  munged -F --socket="$dir/socket/munge" --key-file="$dir/munge/key" --log-file="$dir/log/munged.log" \
    --pid-file="$dir/munge/pid" --seed-file="$dir/munge/seed" >/dev/null 2>&1 &
  slurm_daemons+=($!)
  ports="$(/usr/bin/python3 -c '
import socket
s = [socket.socket() for _ in range(2)]
for x in s: x.bind(("127.0.0.1", 0))
print(*[x.getsockname()[1] for x in s])')"
  host="$(hostname -s)"
  export SLURM_CONF="$dir/slurm.conf"
  cat >"$SLURM_CONF" <<EOF
ClusterName=vantreltest
SlurmctldHost=$host(127.0.0.1)
SlurmctldPort=${ports% *}
SlurmdPort=${ports#* }
SlurmUser=$(id -un)
SlurmdUser=$(id -un)
AuthType=auth/munge
CredType=cred/munge
AuthInfo=socket=$dir/socket/munge
StateSaveLocation=$dir/state
SlurmdSpoolDir=$dir/spool
SlurmctldPidFile=$dir/slurmctld.pid
SlurmdPidFile=$dir/slurmd.pid
SlurmctldLogFile=$dir/log/slurmctld.log
SlurmdLogFile=$dir/log/slurmd.log
ProctrackType=proctrack/linuxproc
TaskPlugin=task/none
SelectType=select/cons_tres
SelectTypeParameters=CR_CPU
SchedulerType=sched/builtin
MpiDefault=none
SwitchType=switch/none
JobCompType=jobcomp/none
AccountingStorageType=accounting_storage/none
JobAcctGatherType=jobacct_gather/none
ReturnToService=2
KillWait=2
MinJobAge=600
NodeName=vtnode NodeHostname=$host NodeAddr=127.0.0.1 CPUs=$(nproc) RealMemory=2048 State=UNKNOWN
PartitionName=test Nodes=vtnode Default=YES MaxTime=INFINITE State=UP
EOF
  for _ in $(seq 1 50); do [ -S "$dir/socket/munge" ] && break; sleep 0.1; done
  slurmctld -D -c -f "$SLURM_CONF" >/dev/null 2>&1 &
  slurm_daemons+=($!)
  slurmd -D -f "$SLURM_CONF" -N vtnode >/dev/null 2>&1 &
  slurm_daemons+=($!)
  for _ in $(seq 1 150); do
    state="$(sinfo -h -o %T 2>/dev/null || true)"
    [ "$state" = idle ] && return 0
    sleep 0.1
  done
  echo "slurm: the node is not idle after 15 s ($state)" >&2
  return 1
}

# Waits until none of the jobs (comma-separated ids) is pending, running or completing; false after $2 s.
slurm_wait_jobs() {
  local i
  for ((i = 0; i < $2 * 10; ++i)); do
    [ -z "$(squeue -h -j "$1" -t PD,R,CG 2>/dev/null)" ] && return 0
    sleep 0.1
  done
  return 1
}

slurm_cluster_stop() {
  local i pid
  [ ${#slurm_daemons[@]} -gt 0 ] || return 0
  # Jobs first, so that no job step outlives the daemons; then the daemons, newest first.
  scancel --quiet --user "$(id -un)" 2>/dev/null || true
  for _ in $(seq 1 50); do [ -z "$(squeue -h 2>/dev/null)" ] && break; sleep 0.1; done
  for ((i = ${#slurm_daemons[@]} - 1; i >= 0; --i)); do
    pid="${slurm_daemons[i]}"
    kill -TERM "$pid" 2>/dev/null || continue
    for _ in $(seq 1 50); do kill -0 "$pid" 2>/dev/null || break; sleep 0.1; done
    kill -KILL "$pid" 2>/dev/null || true
    wait "$pid" 2>/dev/null || true
  done
  slurm_daemons=()
}
