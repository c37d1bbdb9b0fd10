# GlusterFS for the rig: glusterd with its own working, run and log
# directories and its own socket, one single-brick volume, and FUSE clients,
# each standing for a host. Sourced by tools/shared-storage-rig; needs $tmp.

gluster_ns=
gluster_addr=
gluster_volume=iclrig$$

gluster_needs() {
  need_packages "GlusterFS" glusterd=glusterfs-server gluster=glusterfs-server \
    glusterfs=glusterfs-client
}

gluster_cli() {
  in_ns "$gluster_ns" gluster --mode=script --glusterd-sock="$tmp/glusterd-cli.socket" \
    --log-file="$tmp/logs/cli.log" "$@"
}

gluster_entries() {  # what the system's own GlusterFS directories hold
  find /var/lib/glusterd /var/log/glusterfs /run/gluster -mindepth 1 2>/dev/null | LC_ALL=C sort
}

# start_glusterd NS ADDR: glusterd in namespace NS, listening on ADDR.
start_glusterd() {
  gluster_ns=$1 gluster_addr=$2
  mkdir -p "$tmp/glusterd" "$tmp/run" "$tmp/brick"
  cat >"$tmp/glusterd.vol" <<VOL
volume management
    type mgmt/glusterd
    option working-directory $tmp/glusterd
    option glusterd-sockfile $tmp/glusterd-cli.socket
    option run-directory $tmp/run
    option logging-directory $tmp/logs
    option transport-type socket
    option transport.address-family inet
    option transport.socket.listen-port 24007
    option ping-timeout 0
    option event-threads 1
    option max-port 60999
end-volume
VOL
  gluster_before=$(gluster_entries)
  on_exit remove_gluster_made  # after glusterd has stopped
  in_ns "$gluster_ns" glusterd -N -f "$tmp/glusterd.vol" -l "$tmp/logs/glusterd.log" \
    -p "$tmp/glusterd.pid" >/dev/null 2>&1 &
  local pid=$!
  on_exit "gluster_stop $pid"
  wait_for 30 gluster_cli volume list || setup_failed "glusterd did not answer (see its log)"
  note_gluster_made
}

# glusterd and the bricks it starts make a few entries in the system's
# GlusterFS directories whatever they are told (brick sockets in /run/gluster);
# those that appeared while they started are theirs, removed on exit.
gluster_before=
gluster_made=
note_gluster_made() { gluster_made=$(comm -13 <(echo "$gluster_before") <(gluster_entries)); }
remove_gluster_made() { [[ -z $gluster_made ]] || xargs -r -d '\n' rm -rf -- <<<"$gluster_made"; }

gluster_stop() {  # gluster_stop PID: the volume, then glusterd
  if kill -0 "$1" 2>/dev/null; then
    gluster_cli volume stop "$gluster_volume" force >/dev/null 2>&1
    gluster_cli volume delete "$gluster_volume" >/dev/null 2>&1
    note_gluster_made  # deleting a volume makes geo-replication/ too
  fi
  kill_pid "$1" 10
}

# create_volume OPTION...: one brick at $tmp/brick/b, each KEY=VALUE set.
create_volume() {
  local option
  gluster_cli volume create "$gluster_volume" "$gluster_addr:$tmp/brick/b" force >/dev/null ||
    setup_failed "volume create failed"
  for option in "$@"; do
    gluster_cli volume set "$gluster_volume" "${option%%=*}" "${option#*=}" >/dev/null ||
      setup_failed "volume set $option failed"
  done
  gluster_cli volume start "$gluster_volume" >/dev/null || setup_failed "volume start failed"
  wait_for 30 brick_online || setup_failed "the brick did not come online"
  note_gluster_made
}

brick_online() { gluster_cli volume status "$gluster_volume" --xml | grep -q '<status>1</status>'; }

is_fuse_mount() { [[ $(stat -f -c %T "$1") == fuseblk ]]; }

# gluster_mount NS DIR NAME: a client of its own in namespace NS, as another
# host has.
gluster_mount() {
  mkdir -p "$2"
  in_ns "$1" glusterfs -N --volfile-server="$gluster_addr" --volfile-id="$gluster_volume" \
    -l "$tmp/logs/$3.log" "$2" >/dev/null 2>&1 &
  on_exit "unmount $2; kill_pid $! 5"
  wait_for 30 is_fuse_mount "$2" || setup_failed "mount $3 did not come up"
}
