# Two sshfs mounts of one SFTP directory for the rig, standing for two hosts:
# SFTP has no record locks, so a lock taken through one mount stays on that
# client and does not exclude one taken through the other. sshd is the rig's
# own (its config, host key and authorized key under $tmp/ssh), listening on
# the loopback of a private network namespace; both sshfs clients reach it
# there, with sshfs's default cache options. Sourced by
# tools/shared-storage-rig; needs $tmp.

# What runs a program in the namespace, as a simple command: started in the
# background, $! is the program itself (nsenter, unshare and sh each exec the
# next), so each is stopped by its own id.
sshfs_in_ns=()
sshfs_sshd=/usr/sbin/sshd  # sshd re-executes itself, so by its absolute path
sshfs_sftp=/usr/lib/openssh/sftp-server

# Installing openssh-server starts the machine's own sshd unless the local
# policy (policy-rc.d) denies starting services, as Debian's container images
# do: without that, the rig leaves the machine as it is and skips.
sshfs_needs() {
  if [[ ! -x $sshfs_sshd ]]; then
    /usr/sbin/policy-rc.d ssh start >/dev/null 2>&1
    (($? == 101)) ||
      skip "sshfs: installing openssh-server would start this machine's ssh service" \
           "(no policy-rc.d denying it); install openssh-server first"
  fi
  need_packages "sshfs" sshfs=sshfs "$sshfs_sshd=openssh-server" "$sshfs_sftp=openssh-sftp-server"
  getent passwd sshd >/dev/null || skip "sshfs: no sshd user for sshd's privilege separation"
}

# The keys and both ends' configs, all under $tmp/ssh (mode 0700, from mktemp).
# StrictModes is off: the authorized key's directories lie under the
# world-writable --workdir, which sshd would otherwise refuse.
sshfs_write_config() {
  local d=$tmp/ssh
  mkdir -p -m 700 "$d"
  ssh-keygen -q -t ed25519 -N '' -C icl-rig-host -f "$d/host_key" &&
    ssh-keygen -q -t ed25519 -N '' -C icl-rig-client -f "$d/client_key" ||
    setup_failed "ssh-keygen could not make the rig's keys"
  cp "$d/client_key.pub" "$d/authorized_keys"
  echo "127.0.0.1 $(cat "$d/host_key.pub")" >"$d/known_hosts"
  cat >"$d/sshd_config" <<CFG
ListenAddress 127.0.0.1:22
HostKey $d/host_key
AuthorizedKeysFile $d/authorized_keys
PidFile none
PermitRootLogin prohibit-password
PasswordAuthentication no
KbdInteractiveAuthentication no
UsePAM no
StrictModes no
Subsystem sftp $sshfs_sftp
CFG
  cat >"$d/ssh_config" <<CFG
Host *
  User root
  IdentityFile $d/client_key
  IdentitiesOnly yes
  UserKnownHostsFile $d/known_hosts
  GlobalKnownHostsFile /dev/null
  StrictHostKeyChecking yes
  BatchMode yes
CFG
}

sshfs_sshd_ready() { grep -q "Server listening on 127.0.0.1 port 22" "$tmp/logs/sshd.log"; }

# sshd needs its privilege separation directory /run/sshd, even to check its
# config; where the machine has none, sshd gets a mount namespace of its own
# with an empty /run, so the machine's /run is untouched. sshfs_run_sshd
# ARGS...: execs sshd so, in the namespace (call it in a subshell).
sshfs_run_sshd() {
  if [[ -d /run/sshd ]]; then
    exec "${sshfs_in_ns[@]}" "$sshfs_sshd" "$@"
  else
    exec "${sshfs_in_ns[@]}" unshare --mount --propagation private sh -c \
      'mount -t tmpfs -o mode=755,size=1m icl-rig-run /run && mkdir -m 755 /run/sshd &&
       exec "$@"' sh "$sshfs_sshd" "$@"
  fi
}

# start_sshd NS: sshd in the foreground (-D), logging to its log (-e), as a
# child of the rig in namespace NS, stopped by its id.
start_sshd() {
  sshfs_in_ns=(nsenter "--net=/var/run/netns/$1")
  sshfs_write_config
  (sshfs_run_sshd -t -f "$tmp/ssh/sshd_config") >"$tmp/logs/sshd-test.log" 2>&1 ||
    setup_failed "sshd rejects the rig's config: $(head -n 3 "$tmp/logs/sshd-test.log")"
  sshfs_run_sshd -D -e -f "$tmp/ssh/sshd_config" >"$tmp/logs/sshd.log" 2>&1 &
  on_exit "kill_pid $! 5"
  wait_for 30 sshfs_sshd_ready || setup_failed "sshd did not start: $(tail -n 3 "$tmp/logs/sshd.log")"
}

is_sshfs_mount() { [[ $(findmnt -n -o SOURCE -M "$1") == "$2" ]]; }

# sshfs_mount SERVER_DIR DIR NAME: SERVER_DIR over SFTP at DIR, a client of
# its own. nsenter only joins the network namespace, so the mount is seen by
# the whole machine (ip netns exec would keep it in a mount namespace of its
# own).
sshfs_mount() {
  mkdir -p "$2"
  "${sshfs_in_ns[@]}" sshfs -f -F "$tmp/ssh/ssh_config" "127.0.0.1:$1" "$2" \
    >"$tmp/logs/$3.log" 2>&1 &
  on_exit "unmount $2; kill_pid $! 5"
  wait_for 30 is_sshfs_mount "$2" "127.0.0.1:$1" ||
    setup_failed "sshfs mount $3 did not come up: $(tail -n 3 "$tmp/logs/$3.log")"
}
