# Two bindfs mounts of one directory for the rig: a file system whose locks
# stay on one client, as on NFS mounted nolock. A lock taken through one mount
# does not exclude one taken through the other. hard_remove makes a rename
# over an open file atomic, as on a network file system (without it libfuse
# first renames the open file out of the way, and the label can vanish).
# Sourced by tools/shared-storage-rig; needs $tmp.

bindfs_needs() { need_packages "bindfs" bindfs=bindfs; }

is_bindfs_mount() { [[ $(findmnt -n -o SOURCE -M "$1") == "$2" ]]; }

# bindfs_mount SOURCE DIR NAME: SOURCE seen again at DIR.
bindfs_mount() {
  mkdir -p "$2"
  bindfs -f -o hard_remove "$1" "$2" >"$tmp/logs/$3.log" 2>&1 &
  on_exit "unmount $2; kill_pid $! 5"
  wait_for 30 is_bindfs_mount "$2" "$1" || setup_failed "bindfs mount $3 did not come up"
}
