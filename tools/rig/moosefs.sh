# MooseFS for the rig: one master and one chunkserver with their own
# configuration and data directories, and mfsmount clients, all in one private
# network namespace. Sourced by tools/shared-storage-rig; needs $tmp.

mfs_ns=
mfs_addr=

moosefs_needs() {
  need_packages "MooseFS" mfsmaster=moosefs-master mfschunkserver=moosefs-chunkserver \
    mfsmount=moosefs-client mfscli=moosefs-cli
}

# The master's empty metadata, shipped by the package to seed a new instance.
mfs_empty_metadata() {
  local f
  for f in /var/lib/mfs/metadata.mfs.empty /usr/share/mfs/metadata.mfs.empty; do
    [[ -f $f ]] && { echo "$f"; return 0; }
  done
  return 1
}

# The settings every MooseFS daemon of the rig shares: run as root, keep
# state under $1, log as $2, bind to the namespace's address.
daemon_settings() {
  printf 'WORKING_USER = root\nWORKING_GROUP = root\nDATA_PATH = %s/data\n' "$1"
  printf 'SYSLOG_IDENT = icl-rig-%s\nNICE_LEVEL = 0\n' "$2"
}

write_master_config() {
  local d=$tmp/mfs/master
  mkdir -p "$d/data"
  cp "$(mfs_empty_metadata)" "$d/data/metadata.mfs" || setup_failed "no metadata.mfs.empty"
  echo "*  /  rw,alldirs,admin,maproot=0:0" >"$d/exports.cfg"
  : >"$d/topology.cfg"
  { daemon_settings "$d" mfsmaster; cat <<CFG; } >"$d/master.cfg"
EXPORTS_FILENAME = $d/exports.cfg
TOPOLOGY_FILENAME = $d/topology.cfg
MATOML_LISTEN_HOST = $mfs_addr
MATOCS_LISTEN_HOST = $mfs_addr
MATOCL_LISTEN_HOST = $mfs_addr
CFG
}

# A positive size in mfshdd.cfg counts what the disk already holds, so on a
# fuller disk the chunkserver would offer nothing: leave 20 GiB free instead.
write_chunkserver_config() {
  local d=$tmp/mfs/chunkserver
  mkdir -p "$d/data" "$d/chunks"
  echo "$d/chunks -20GiB" >"$d/hdd.cfg"
  { daemon_settings "$d" mfschunkserver; cat <<CFG; } >"$d/chunkserver.cfg"
HDD_CONF_FILENAME = $d/hdd.cfg
MASTER_HOST = $mfs_addr
BIND_HOST = $mfs_addr
CSSERV_LISTEN_HOST = $mfs_addr
CFG
}

mfs_master_ready() { grep -q "daemon initialized properly" "$tmp/logs/mfsmaster.log"; }
mfs_chunkserver_ready() {  # listed, with a total space (11th field) above 0
  in_ns "$mfs_ns" mfscli -H "$mfs_addr" -SCS -s '|' 2>/dev/null |
    awk -F'|' -v addr="$mfs_addr" '$2 == addr && $11 + 0 > 0 { found = 1 } END { exit !found }'
}

# start_moosefs NS ADDR: master and chunkserver in namespace NS on ADDR. Both
# run in the foreground (-f) as children of the rig; stopped on exit after the
# mounts, the master last, since it saves its metadata when told to stop.
start_moosefs() {
  mfs_ns=$1 mfs_addr=$2
  write_master_config
  write_chunkserver_config
  in_ns "$mfs_ns" mfsmaster -f -c "$tmp/mfs/master/master.cfg" start \
    >"$tmp/logs/mfsmaster.log" 2>&1 &
  on_exit "kill_pid $! 10"
  wait_for 30 mfs_master_ready || setup_failed "mfsmaster did not start (see its log)"
  in_ns "$mfs_ns" mfschunkserver -f -c "$tmp/mfs/chunkserver/chunkserver.cfg" start \
    >"$tmp/logs/mfschunkserver.log" 2>&1 &
  on_exit "kill_pid $! 10"
  wait_for 60 mfs_chunkserver_ready || setup_failed "the chunkserver offers no space (see its log)"
}

is_mfs_mount() { [[ $(findmnt -n -o SOURCE -M "$1") == mfs#* ]]; }

# mfs_mount DIR NAME [OPTIONS]: a client of its own, as another host has.
mfs_mount() {
  mkdir -p "$1"
  in_ns "$mfs_ns" mfsmount -f "$1" -H "$mfs_addr" -P 9421 ${3:+-o "$3"} \
    >"$tmp/logs/$2.log" 2>&1 &
  on_exit "unmount $1; kill_pid $! 5"
  wait_for 30 is_mfs_mount "$1" || setup_failed "mount $2 did not come up"
}

# One chunkserver: each chunk has one copy.
mfs_set_goal_1() {
  in_ns "$mfs_ns" mfssetgoal -r 1 "$1" >/dev/null || setup_failed "mfssetgoal failed"
}
