#ifndef ICL_STORAGE_STORAGE_H
#define ICL_STORAGE_STORAGE_H

// Whether an index cache lives on storage that other hosts mount too.
//
// On one machine the writers' lock and the rename of a complete file give
// every reader the old label or the new one, and lose no update. Across hosts
// that holds only as far as the file system keeps its caches coherent and its
// locks shared; the README's table says which ones do, and with what options.
// On shared storage the label code therefore works a little harder (see
// ServerLookup.h and the write path), and says once per process, at Debug,
// what the guarantees need of the mount.

#include <sys/types.h>

#include <string>

#include "EvEvent.h"

namespace icl {

enum class StorageKind {
  Local,   // a local or single-host file system (ext4, xfs, tmpfs, overlay, ...),
           // or one statfs could not tell
  Shared,  // FUSE, NFS, SMB, Ceph, AFS, 9P, GFS2, OCFS2, Lustre
};

// One statfs of `dir` (or of the file it names).
StorageKind storageKindOf(const std::string& dir);

// What a writer needs to know of the storage holding a directory.
struct StorageFacts {
  StorageKind kind = StorageKind::Local;
  std::string mountType;  // shared storage only: mountTypeOf(); "" unknown
  // Whether a fresh listing of the directory is the server's word on which file a name
  // holds, so that a look by name that disagrees with it is the stale one.
  // Measured true for MooseFS, whose client asks its master for every listing
  // (while it may keep names for a while: mfsentrycacheto). Not so for
  // GlusterFS, whose client keeps listings (readdir-ahead) and can name a file
  // replaced long ago, nor for NFS, whose kernel keeps directory pages; there
  // the look-up at the server (ServerLookup.h) decides alone.
  bool listingIsServersWord = false;
  // Whether asking the server about a name (ServerLookup.h) can reach it:
  // false once the file system answered that it keeps no such attributes.
  bool serverLookups = true;
};

// The facts of `dir`, looked up (one statfs, and on shared storage one read
// of the mount table) the first time a thread asks about `dir`, then kept
// for a minute while the thread keeps asking about the same `dir`: a writer
// asks once per change, and a mount seldom changes under a path.
StorageFacts storageFactsOf(const std::string& dir);
// Remembers for `dir` that the server cannot be asked about names.
void noteNoServerLookups(const std::string& dir);

// The file system type /proc/self/mountinfo gives for the mount holding
// `dir` ("fuse.glusterfs", "nfs4", ...); "" when it cannot be told. A FUSE
// mount whose type says only "fuse" is named by its source where that tells:
// "fuse.mfs" for MooseFS ("mfs#MASTER:PORT").
std::string mountTypeOf(const std::string& dir);
// The same, from the text of a mount table and the device of the mount.
std::string mountTypeIn(const std::string& mountInfo, dev_t device);

// What the label's guarantees need of a mount of `type`, as a sentence.
std::string sharedStorageNeeds(const std::string& type);

// The first time in this process a writer meets shared storage: one Debug
// line naming the mount's type and what the guarantees need of it.
void noteSharedStorageOnce(EvDebug& log, const char* function, const std::string& dir,
                           const StorageFacts& facts);

}  // namespace icl

#endif
