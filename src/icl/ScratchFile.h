#ifndef ICL_ICL_SCRATCHFILE_H
#define ICL_ICL_SCRATCHFILE_H

// The directory capability check's scratch file.
//
// The check runs in directories that other users and hosts can write, often
// with privileges. It must therefore act only on a file it wrote itself:
// whatever is planted or swapped in at the name (a symbolic or hard link to
// another file, a FIFO, a directory, someone else's file) is refused, never
// followed, emptied, re-owned, re-moded or removed.

#include <sys/types.h>

#include <string>

#include "FileStep.h"
#include "sys/FileIo.h"

namespace icl {

const char* const kScratchFileName = "test_rdwrite.txt";

// The file the scratch name held when the check wrote it.
struct ScratchIdentity {
  dev_t device = 0;
  ino_t inode = 0;
};

enum class ScratchWrite {
  kWritten,
  // Not created, or the name holds something that is not a regular file
  // with a single link. Nothing was written.
  kNotOpened,
  // Created (or taken over from an earlier check) but not emptied. Nothing
  // was written.
  kNotEmptied,
  // Opened and emptied, but `text` was not written whole or the file did
  // not close cleanly; it may hold part of the text.
  kNotWritten,
};

// Why a write failed: the step whose call failed (Creating, Examining,
// Emptying, Writing, Closing) and its errno. A name held by something else
// is refused without a failed call: `step` stays None.
struct ScratchFailure {
  FileStep step = FileStep::None;
  int err = 0;
};

// Creates `path` exclusively (mode 0666 less the umask), or opens the file an
// earlier check left there, never through a link; accepts it only as a
// regular file with a single link, then empties it, writes `text` in one
// piece and closes it. From kNotEmptied on, `identity` names the file, which
// the caller then removes with removeScratchFile; a file this call created
// and could not even examine is removed here.
ScratchWrite writeScratchFile(const char* path, const std::string& text,
                              ScratchIdentity& identity, ScratchFailure& failure);

// Opens `path` for reading and writing without following a link. The
// descriptor is returned only if it is still the regular, single-linked
// file that `identity` names; otherwise the result is invalid.
sys::UniqueFd reopenScratchFile(const char* path, const ScratchIdentity& identity);

// Removes `path` if it still names the file `identity` names. Returns 0, or
// the errno of a failed removal (a name that holds another file is no
// failure: it is left alone).
int removeScratchFile(const char* path, const ScratchIdentity& identity);

}  // namespace icl

#endif
