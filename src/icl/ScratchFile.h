#ifndef ICL_ICL_SCRATCHFILE_H
#define ICL_ICL_SCRATCHFILE_H

// The capability test's scratch file.
//
// The test runs in directories that other users and hosts can write, often
// with privileges. It must therefore act only on a file it wrote itself:
// whatever is planted or swapped in at the name (a symbolic or hard link to
// another file, a FIFO, a directory, someone else's file) is refused, never
// followed, emptied, re-owned or re-moded.

#include <sys/types.h>

#include <string>

#include "sys/FileIo.h"

namespace icl {

const char* const kScratchFileName = "test_rdwrite.txt";

// The file the scratch name held when the test wrote it.
struct ScratchIdentity {
  dev_t device = 0;
  ino_t inode = 0;
};

enum class ScratchWrite {
  kWritten,
  // Not opened or created, not a regular file with a single link, or not
  // emptied. Nothing was written.
  kNotOpened,
  // Opened and emptied, but `text` was not written whole or the file did
  // not close cleanly; it may hold part of the text.
  kNotWritten,
};

// Opens `path` for writing without following a link, creating it with mode
// 0666 (less the umask) if needed; accepts it only as a regular file with a
// single link, then empties it, writes `text` in one piece and closes it.
// On kWritten, `identity` names the file written.
ScratchWrite writeScratchFile(const char* path, const std::string& text,
                              ScratchIdentity& identity);

// Opens `path` for reading and writing without following a link. The
// descriptor is returned only if it is still the regular, single-linked
// file that `identity` names; otherwise the result is invalid.
sys::UniqueFd reopenScratchFile(const char* path, const ScratchIdentity& identity);

}  // namespace icl

#endif
