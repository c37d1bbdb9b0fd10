# The partition profile: GlusterFS with a server and two client hosts, A and
# B, in three network namespaces joined by veth pairs. A's writer is held at
# one step (strace delays one system call), A's link is cut for longer than
# the server's timeout, B changes the label meanwhile, the link comes back and
# A goes on. What must hold: B's line survives, and A either redid its change
# on the current label (its line is there too) or failed with an Error line.
# Sourced by tools/shared-storage-rig.
#
# Steps, found per run from a traced change through A's own mount:
#   waiting   B's host holds the writers' lock; A waits for it when cut off
#   locked    A held right after the lock call that took the lock
#   reread    A held after its re-read under the lock, before it creates the
#             new label's file
#   tempfile  A held once the new label's file is written and synced, before
#             the last look at the label and the lock that comes before
#             its rename
#   renamed   A held right after that rename

part_server=10.199.20.1
part_cut_at=2     # seconds after A started
part_heal_by=50   # seconds after the cut at the latest: past the server's 42 s
part_resume=58    # seconds after A's step was reached, when it goes on

# part_link NAME SUBNET: host NAME joined to the server by a veth pair on
# 10.199.SUBNET.0/30 (server .1, host .2), with a route to the server.
part_link() {
  ip link add "v$1" netns "$ns-$1" type veth peer name "s$1" netns "$ns-srv" ||
    setup_failed "cannot make a veth pair for host $1"
  ip -n "$ns-srv" addr add "10.199.$2.1/30" dev "s$1" && ip -n "$ns-srv" link set "s$1" up &&
    ip -n "$ns-$1" addr add "10.199.$2.2/30" dev "v$1" && part_heal "$1" "$2" ||
    setup_failed "cannot configure the link to host $1"
}

part_cut() { ip -n "$ns-$1" link set "v$1" down; }
part_heal() {
  ip -n "$ns-$1" link set "v$1" up &&
    ip -n "$ns-$1" route replace "$part_server/32" via "10.199.$2.1" dev "v$1"
}

set_up_partition() {
  gluster_needs
  need_packages "the partition profile" strace=strace
  make_netns "$ns-srv"
  make_netns "$ns-a"
  make_netns "$ns-b"
  ip -n "$ns-srv" addr add "$part_server/32" dev lo || setup_failed "cannot add $part_server"
  part_link a 21
  part_link b 22
  start_glusterd "$ns-srv" "$part_server"
  create_volume
  gluster_mount "$ns-a" "$tmp/mnt-a" client-a
  gluster_mount "$ns-b" "$tmp/mnt-b" client-b
  mounts=("$tmp/mnt-a" "$tmp/mnt-b")
  truth=$tmp/brick/b
}

# part_hold_for STEP TRACE: how to hold a change at STEP, from TRACE, an
# strace -y of the same change of a copy of the label: "PATH EXPRESSION",
# where EXPRESSION (DELAY standing for the delay) delays the Nth call of one
# system call on PATH ("-": on any path). Counting only the calls on one path
# keeps N the same from run to run; the calls elsewhere vary with the
# storage's retries.
part_hold_for() {
  awk -v step="$1" '
    function name_of(line) { sub(/^[0-9]+ +/, "", line); sub(/\(.*/, "", line); return line }
    function paths_of(line, out, re,   n, rest) {  # each match of re, quotes or <> cut off
      n = 0; rest = line
      while (match(rest, re)) {
        out[++n] = substr(rest, RSTART + 1, RLENGTH - 2); rest = substr(rest, RSTART + RLENGTH)
      }
      return n
    }
    function pick(path, how, line) { target = path; how_ = how; target_line = line }
    {
      n = name_of($0); lines[NR] = $0; names[NR] = n
      if (target) next
      k = paths_of($0, p, "\"/[^\"]*\"")  # the paths given
      paths_of($0, fd, "<\\/[^>]*>")        # the paths of descriptors (strace -y)
      if (!locked && n == "fcntl" && $0 ~ /F_(OFD_)?SETLKW?, \{l_type=F_WRLCK/ && $0 ~ /= 0$/) {
        locked = 1
        if (step == "locked") pick(fd[1], "delay_exit", NR)
        next
      }
      if (!locked) next
      if ((n == "read" || n == "close") && fd[1] ~ /\/icl_label\.txt$/) {
        label_line = NR; label_path = fd[1]  # the last access to the label read so far
      }
      # After the re-read: right after the last read or close of the label
      # before the new label'"'"'s file is created, a call on a path that does not
      # change from run to run (the new file may get a new name each time).
      if (step == "reread" && n == "openat" && $0 ~ /O_CREAT/ && p[1] ~ /icl_label\.txt\.tmp/) {
        if (label_line) pick(label_path, "delay_exit", label_line)
        else pick(p[1], "delay_enter", NR)
      }
      # strace matches a rename by its first path only, which a writer may name
      # afresh each time: renames are counted whatever their paths.
      if (n == "fsync" && step == "tempfile" && fd[1] ~ /icl_label\.txt\.tmp/) pick("-", "delay_exit", NR)
      if (n ~ /^rename/ && step == "renamed") pick("-", "delay_exit", NR)
    }
    END {
      if (!target) exit 1
      for (i = 1; i <= target_line; i++) {
        if (names[i] != names[target_line]) continue
        if (target == "-") { count++; continue }
        k = paths_of(lines[i], q, "\"/[^\"]*\"|<\\/[^>]*>")
        for (j = 1; j <= k; j++) if (q[j] == target) { count++; break }
      }
      print target " " names[target_line] ":" how_ "=DELAY:when=" count
    }' "$2"
}

# A change through A's mount: CMD... prefixed (strace or nothing).
part_change() {  # part_change HOST DIR PATH OUT [PREFIX...]
  local host=$1 dir=$2 path=$3 out=$4
  shift 4
  "$@" "$icl" update "$dir" --pool 3 --cache 7 --path "$path" --host "host-$host" \
    --wait 100 --json >"$out.json" 2>/dev/null
  echo $? >"$out.rc"
}

# Holds the writers' lock of DIR through B's mount for $2 seconds (a POSIX
# lock, which OFD locks exclude), as a writer on B would.
part_hold_lock() {
  python3 -c 'import fcntl, sys, time
f = open(sys.argv[1], "a")
fcntl.lockf(f, fcntl.LOCK_EX)
time.sleep(float(sys.argv[2]))' "$1/icl_label.lock" "$2"
}

# A's mount answers again: after a heal its client reconnects within seconds.
part_a_connected() {
  local probe=${mounts[0]}/icl-rig-alive-$$
  mkdir "$probe" && rmdir "$probe"
}

part_step() {  # part_step STEP K: one run of one step; prints its line
  local step=$1 sub=icl-rig-part-$1-$2 hold= started=$SECONDS
  local a_dir=${mounts[0]}/$sub b_dir=${mounts[1]}/$sub cal=${mounts[0]}/$sub-cal
  rm -f "$tmp"/out/*
  wait_for 90 part_a_connected || setup_failed "host A's mount did not come back after the heal"
  mkdir "$b_dir" "${mounts[1]}/$sub-cal" || setup_failed "cannot create $b_dir"
  "$icl" new "$b_dir" --pool 3 --cache 7 --path 1 --marker 1001 --host rig >/dev/null &&
    cp "$b_dir/icl_label.txt" "${mounts[1]}/$sub-cal/" || setup_failed "no first label"
  if [[ $step != waiting ]]; then
    # The same command as A's below, so that it makes the same calls.
    part_change a "$cal" 100 "$tmp/out/cal" strace -f -qq -y -o "$tmp/out/cal.trace" \
      -e trace=openat,read,close,fcntl,flock,fsync,rename,renameat,renameat2
    hold=$(part_hold_for "$step" "$tmp/out/cal.trace") ||
      setup_failed "no $step step in a traced change: $(grep -v '\.so' "$tmp/out/cal.trace")"
    hold=${hold/DELAY/$((part_resume * 1000000))}
    hold=${hold//$cal\//$a_dir/}
  fi
  part_start_a "$step" "$a_dir" "$hold"
  sleep "$part_cut_at"
  part_cut a
  local cut=$SECONDS
  part_change b "$b_dir" 200 "$tmp/out/b"
  while ((SECONDS - cut < part_heal_by)) && [[ $step == waiting || ! -s $tmp/out/b.rc ]]; do
    sleep 1
  done
  part_heal a 21
  wait_for 120 test -s "$tmp/out/a.rc"
  part_held=
  [[ -z $hold ]] || part_held=$(sed -n "${hold##*when=}p" "$tmp/out/a.trace" |
                                  sed "s|^[0-9]* *||; s|$tmp/||g" | cut -c1-160)
  [[ -n $part_held || -z $hold ]] || part_held="NOT HELD: no call ${hold#* } on ${hold%% *}"
  part_judge "$step" "$2" "$b_dir" $((SECONDS - started))
  stop_jobs
}

part_start_a() {  # part_start_a STEP DIR HOLD: A's change, in the background
  set -m
  if [[ $1 == waiting ]]; then
    part_hold_lock "${mounts[1]}/${2##*/}" $((part_cut_at + 3)) &
    jobs_running+=($!)
    sleep 0.5
    part_change a "$2" 100 "$tmp/out/a" &
  else
    local expression=${3#* } filter=()
    [[ ${3%% *} == - ]] || filter=(-P "${3%% *}")
    part_change a "$2" 100 "$tmp/out/a" strace -f -qq -y -o "$tmp/out/a.trace" "${filter[@]}" \
      -e "trace=${expression%%:*}" -e "inject=$expression" &
  fi
  jobs_running+=($!)
  set +m
}

# What host $1's command said, in a line; fails when it failed without an
# Error line.
part_said() { python3 "$rig_dir/said.py" "$tmp/out/$1.json" "$tmp/out/$1.rc" "$tmp/"; }

part_lists() { grep -q "^USED_BY_ACCESSPATHID: *$2\\b" "$1/icl_label.txt"; }

declare -A part_totals=([bad]=0 [runs]=0)

# Judges one run: B's line survived (lost silently when B said it changed the
# label), and A's line is there or A failed with an Error line.
part_judge() {  # part_judge STEP K DIR SECONDS (DIR through any mount)
  local dir=$truth/${3##*/} a_rc b_rc verdict=ok a_line=no b_line=no a_said b_said a_clear=0
  a_rc=$(cat "$tmp/out/a.rc" 2>/dev/null) b_rc=$(cat "$tmp/out/b.rc" 2>/dev/null)
  a_said=$(part_said a) || a_clear=1
  b_said=$(part_said b)
  part_lists "$dir" 100 && a_line=yes
  part_lists "$dir" 200 && b_line=yes
  if ! "$icl" show "$dir" --json >/dev/null 2>&1; then
    verdict="FINAL LABEL INVALID"
  elif [[ $b_line == no && $b_rc == 0 ]]; then
    verdict="B'S LINE LOST SILENTLY"
  elif [[ $a_rc == 0 && $a_line == no ]]; then
    verdict="A'S LINE LOST SILENTLY"
  elif ((a_clear != 0)); then
    verdict="A FAILED WITHOUT AN ERROR LINE"
  fi
  [[ $part_held == "NOT HELD"* ]] && verdict="A WAS NOT HELD AT THIS STEP: the run says nothing"
  [[ $verdict == ok ]] || ((part_totals[bad]++))
  ((part_totals[runs]++))
  note "step $1, run $2 ($4 s): A: $a_said; B: $b_said;" \
       "final label lists A's line: $a_line, B's: $b_line: $verdict"
  [[ -z $part_held ]] || note "  A was held at: $part_held"
}

run_partition_profile() {
  note "shared-storage-rig: profile partition, promise $promise; GlusterFS" \
       "$(glusterfs --version | head -n 1 | awk '{print $2}'), a server and hosts A and B in" \
       "network namespaces; A cut off ${part_heal_by} s at most, held ${part_resume} s"
  note "  mount: $(mount_identity "${mounts[0]}"); icl: $icl"
  local steps s k
  IFS=, read -ra steps <<<"$step"
  [[ $step == all ]] && steps=(waiting locked reread tempfile renamed)
  for s in "${steps[@]}"; do
    for ((k = 1; k <= runs; k++)); do part_step "$s" "$k"; done
  done
  note "total: ${part_totals[bad]} of ${part_totals[runs]} runs broke the promise"
  [[ $promise == report ]] && { note "RESULT: reported only (partition profile)"; return 0; }
  ((part_totals[bad] == 0)) && { note "RESULT: PASS (partition profile, promise $promise)"; return 0; }
  note "RESULT: FAIL (partition profile, promise $promise)"
  return 1
}
