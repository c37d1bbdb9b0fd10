# Shared by the rig's parts: messages, exits, bounded waits, packages, and the
# one list of what to undo on exit. Sourced by tools/shared-storage-rig.

skip() { echo "shared-storage-rig: SKIP: $*"; exit 0; }
note() { printf '%s\n' "$*"; }
setup_failed() {
  echo "shared-storage-rig: set-up failed: $*" >&2
  local log
  for log in "${tmp:-/nonexistent}"/logs/*.log "${tmp:-/nonexistent}"/logs/bricks/*.log; do
    [[ -f $log ]] || continue
    echo "--- last lines of $log" >&2
    grep -E '\] (E|W|C) \[|error|fail' "$log" | tail -n 5 >&2
  done
  exit 3
}

# --- undoing ----------------------------------------------------------------
# Each step that makes something registers how to undo it, right after it
# succeeded; on exit the steps run last first. So only what this rig made is
# undone, and nothing of the machine's own.

undo_steps=()
undoing=
on_exit() { undo_steps+=("$*"); }

undo_all() {
  [[ -n $undoing ]] && return
  undoing=1
  trap '' INT TERM
  local i
  for ((i = ${#undo_steps[@]} - 1; i >= 0; i--)); do eval "${undo_steps[i]}" 2>/dev/null; done
  return 0
}

kill_pid() {  # kill_pid PID [SECONDS]: TERM, then KILL if it lingers
  local pid=$1 wait_tenths=$((${2:-5} * 10))
  kill -0 "$pid" 2>/dev/null || return 0
  kill -TERM "$pid" 2>/dev/null
  while ((wait_tenths-- > 0)) && kill -0 "$pid" 2>/dev/null; do sleep 0.1; done
  kill -KILL "$pid" 2>/dev/null || true
}

unmount() {  # unmount DIR: by name, lazily if it is busy
  mountpoint -q "$1" || return 0
  umount "$1" 2>/dev/null || umount -l "$1" 2>/dev/null
}

# Polls `$@` every 0.2 s for at most $1 seconds.
wait_for() {
  local deadline=$((SECONDS + $1)); shift
  until "$@" >/dev/null 2>&1; do
    ((SECONDS < deadline)) || return 1
    sleep 0.2
  done
}

# --- packages ---------------------------------------------------------------

# need_packages REASON CMD=PACKAGE...: installs with apt-get the packages whose
# command is missing, or skips. Installing starts no service: none of the
# packages used here start a daemon when first installed, but openssh-server,
# which sshfs.sh installs only where the local policy denies that.
need_packages() {
  local reason=$1 pair missing=()
  shift
  for pair in "$@"; do
    command -v "${pair%%=*}" >/dev/null || missing+=("${pair#*=}")
  done
  ((${#missing[@]})) || return 0
  command -v apt-get >/dev/null || skip "$reason: ${missing[*]} missing and no apt-get"
  note "installing ${missing[*]} with apt-get"
  { DEBIAN_FRONTEND=noninteractive apt-get install -y -q "${missing[@]}" ||
      { DEBIAN_FRONTEND=noninteractive apt-get update -q &&
        DEBIAN_FRONTEND=noninteractive apt-get install -y -q "${missing[@]}"; }; } \
    >"$tmp/logs/apt.log" 2>&1 ||
    skip "$reason: ${missing[*]} could not be installed with apt-get"
  for pair in "$@"; do
    command -v "${pair%%=*}" >/dev/null || skip "$reason: no ${pair%%=*} after installing"
  done
}

# --- network namespaces -----------------------------------------------------

# make_netns NAME: a network namespace with lo up, removed on exit with every
# process still in it (all of them started by this rig).
make_netns() {
  command -v ip >/dev/null && command -v nsenter >/dev/null ||
    skip "needs ip (iproute2) and nsenter (util-linux)"
  if [[ ! -d /run/netns ]]; then
    # `ip netns add` makes /run/netns, a mount of its own; gone again when empty.
    on_exit '[[ -z $(ip netns list) ]] && { umount /run/netns; rmdir /run/netns; }'
  fi
  ip netns add "$1" || skip "cannot create a network namespace ('ip netns add' failed)"
  on_exit "for p in \$(ip netns pids $1); do kill_pid \$p 5; done; ip netns del $1"
  ip -n "$1" link set lo up || setup_failed "cannot bring up lo in $1"
}

in_ns() { local ns=$1; shift; nsenter --net="/var/run/netns/$ns" "$@"; }

# What /proc/self/mountinfo says of the mount holding $1.
mount_identity() { findmnt -n -r -o FSTYPE,SOURCE -T "$1" | awk '{print "type " $1 ", source " $2; exit}'; }
