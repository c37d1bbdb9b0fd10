#ifndef ICL_STORAGE_SERVERLOOKUP_H
#define ICL_STORAGE_SERVERLOOKUP_H

// Asking the server, on shared storage, which file the label's name holds.
//
// A host that looked the label's name up a moment ago may still be led by
// its caches to a label another host has since replaced. Two ways to get the
// server's word:
//  - asking for an attribute of the name that no client cache keeps
//    (getxattr): where this host's entry leads to a replaced file, the server
//    answers ESTALE and the kernel looks the name up again. GlusterFS and NFS
//    reach the server so; sshfs answers EOPNOTSUPP at once, and is asked no
//    more (StorageFacts::serverLookups);
//  - where a listing is the server's word (MooseFS: StorageFacts), comparing
//    the inode number the listing gives for the name with the one a look by
//    name gives, which only holds where both come from the same numbering:
//    checked on the lock file, which is never replaced. sshfs numbers inodes
//    per mount and per name, so there it tells nothing and is not asked.

#include <sys/types.h>

#include <string>

#include "storage/Storage.h"

namespace icl {

// Asks the server about `path` (see above). The answer does not matter.
void lookUpAtServer(const std::string& path, const StorageFacts& facts);

// What the server's listing says of the label's name.
enum class ListingSays {
  Same,        // the name holds the file with the inode asked about
  Different,   // it holds another file, or none
  CannotTell,  // no listing here is the server's word, or it failed, or its
               // numbers are not those of a look by name
};

// Compares the listing's inode for the label of `labelPath` with `inode`
// (0: no label).
ListingSays listingSaysOfLabel(const std::string& labelPath, ino64_t inode,
                               const StorageFacts& facts);

// What a writer learns of the label's name under the writers' lock.
enum class NameCheck {
  Fresh,       // the name leads to the file the server lists, or cannot be compared
  StillStale,  // this host still finds another file under the name than the server lists
};

// Under the writers' lock on shared storage, before the label is loaded:
// asks the server about the label's name, then opens the label and takes a
// read lock on that descriptor (never waiting), which the file system must
// take at the server. A name that is still stale there (ESTALE) is tried
// again after a pause (sys/Backoff.h). Without it, a GlusterFS client with
// default options loads a replaced label from its caches for up to a second
// after another host's change. Then, where a listing is the server's word,
// the name must lead to the file the listing names: while they differ this
// waits, 1.5 s at most, and answers StillStale if they still do. Anything
// else that fails is left to the load that follows.
NameCheck revalidateLabelName(const std::string& labelPath, const StorageFacts& facts);

}  // namespace icl

#endif
