#ifndef ICL_WRITE_STILLOURS_H
#define ICL_WRITE_STILLOURS_H

// The check a writer makes just before it renames its new label into place:
// is its turn (lock and claim) still its own, and is the label still the one
// it loaded?
//
// A lock can be lost without its holder being told (a partition long enough
// for the server to drop it, a client that reconnects without it), some
// mounts never pass locks on, and a claim can be taken over from a writer
// paused for longer than a claim may stand. A writer that renamed then would
// undo the change of whoever wrote in between. So it asks its turn
// (WriterTurn::stillOurs: on shared storage the claim, read again, which
// the server answers), then looks at the label by name: the same file and
// size as a look by name saw when it was loaded, and on a local file system
// the same modification time; where a listing is the server's word
// (MooseFS), also the inode the listing gives.
//
// Which of these holds where: the turn everywhere (on shared storage by the
// claim's tag, which no cache of names or inode numbers can fake); the look
// by name wherever a file keeps its inode number across mounts, that is
// everywhere but sshfs, where the claim decides alone.
//
// Cost: one stat on a local file system; on shared storage also a read of
// the claim.

#include <sys/stat.h>

#include <string>

#include "storage/Storage.h"
#include "write/WriteLines.h"
#include "write/WriterTurn.h"

namespace icl {

// `loaded`: the label as a look by name saw it when it was loaded
// (LoadReport::named), or null when there was none.
RenameVerdict checkStillOurs(WriterTurn& turn, const std::string& labelPath,
                             const struct stat* loaded, const StorageFacts& facts);

}  // namespace icl

#endif
