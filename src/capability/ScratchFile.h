#ifndef ICL_ICL_SCRATCHFILE_H
#define ICL_ICL_SCRATCHFILE_H

// The directory capability check's scratch file.
//
// Any number of hosts and processes may check one directory at once, and
// each must get the true answer; the check also runs in directories that
// other users can write, often with privileges. So every check works on a
// file of its own: it creates the file exclusively (O_EXCL) under a name no
// other check produces, and it opens, locks, re-owns, re-modes and removes
// only that file. Whatever stands at any other name is left alone: another
// check's file, the plain "test_rdwrite.txt" of older versions (another
// user's, perhaps locked), a link, a FIFO.
//
// The name is "test_rdwrite.txt.<node>.<pid>.<n>": the name hosts and
// operators know, so that `ls test_rdwrite.txt*` finds what a killed check
// left; then this host's kernel node name (uname), the process id and a
// counter of the process. The node name sets hosts on one shared storage
// apart (a caller's client host name need not: two hosts may be given the
// same one), the pid the processes of a host, the counter the checks of a
// process and its threads. In the node name every character but letters,
// digits, '.', '-' and '_' becomes '_', and at most 64 are used. Where the
// name is taken all the same (a killed check whose pid came round again, two
// hosts with one node name), the next counter is tried, 16 names at most.
//
// Nothing here waits: no call blocks on another process.

#include <sys/types.h>

#include <string>

#include "sys/FileIo.h"
#include "sys/FileStep.h"

namespace icl {

// A scratch file this process created: its path, and the file (device and
// inode) the path named when it was created.
struct ScratchFile {
  std::string path;
  dev_t device = 0;
  ino_t inode = 0;
};

enum class ScratchWrite {
  kWritten,
  // No file was created, or the one just created could not be examined and
  // was removed again.
  kNotCreated,
  // Created, but `text` was not written whole or the file did not close
  // cleanly; it may hold part of the text.
  kNotWritten,
};

// Why a write failed: the step whose call failed (Creating, Examining,
// Writing, Closing) and its errno.
struct ScratchFailure {
  FileStep step = FileStep::None;
  int err = 0;
};

// Creates a scratch file in `directory` (mode 0666 less the umask), writes
// `text` in one piece and closes it. `file.path` is the last name tried,
// also on failure; from kNotWritten on, `file` names the file, which the
// caller then removes with removeScratchFile.
ScratchWrite writeScratchFile(const std::string& directory, const std::string& text,
                              ScratchFile& file, ScratchFailure& failure);

// Opens the scratch file for reading and writing without following a link.
// The descriptor is returned only if it is still the regular, single-linked
// file that `file` names; otherwise the result is invalid, and `err` is the
// errno of the open or fstat that failed, or 0 when the path now holds
// another file.
sys::UniqueFd reopenScratchFile(const ScratchFile& file, int& err);

// Removes the scratch file if its path still names it. Returns 0, or the
// errno of a failed removal (a path that holds another file is no failure:
// it is left alone).
int removeScratchFile(const ScratchFile& file);

}  // namespace icl

#endif
