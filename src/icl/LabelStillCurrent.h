#ifndef ICL_ICL_LABELSTILLCURRENT_H
#define ICL_ICL_LABELSTILLCURRENT_H

// The check a writer makes just before it renames its new label into place:
// is the label still the one it loaded, and are the writers' lock and claim
// still its own?
//
// A lock can be lost without its holder being told (a partition long enough
// for the server to drop it, a client that reconnects without it), and some
// mounts never pass locks on at all. A writer that renamed then would undo
// the change of whoever wrote in between. So the writer asks, without
// waiting: the lock again on its own descriptor (which on a network file
// system reaches the server), and whether the claim file is still the one it
// created; then it looks the label up at the server (on shared storage) and
// by name (same file and size as a look by name saw when it was loaded, and
// on a local file system the same modification time), and, where a fresh
// listing is the
// server's word (MooseFS: SharedStorage.h), also at the inode number it
// gives for the name, which a client's cache of names does not answer.
//
// What remains is the time between this check and the rename: one lstat,
// one stat and one rename on a local disk, a few round trips to the server
// on shared storage. A writer that lost the lock in exactly that window can
// still undo one change; nothing ever tears the label.
//
// Cost on a local disk: one fcntl, one lstat and one stat per change.

#include <sys/stat.h>

#include <string>

#include "DurableReplace.h"
#include "LabelLock.h"

namespace icl {

// `lock`: the writers' lock if it is held, else null (nothing to ask).
// `loaded`: the label's attributes as a look by name saw them when it was
// loaded (LoadReport::named), or null when there was none.
RenameVerdict checkLabelStillCurrent(LabelLock* lock, const std::string& labelPath,
                                     const struct stat* loaded);

}  // namespace icl

#endif
