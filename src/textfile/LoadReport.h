#ifndef ICL_TEXTFILE_LOADREPORT_H
#define ICL_TEXTFILE_LOADREPORT_H

// What one load of the whole-file reader saw, for a caller that needs more
// than the reader's code: the label's writers take a rewritten label's owner
// and mode from the very descriptor the old one was read through, skip a
// write that would change no byte, and learn the errno of a failed load.

#include <sys/stat.h>

#include <string>

namespace icl {

// The reader's default size limit: no reader accepts a longer file, so no
// writer may produce one.
const int kReaderSizeLimit = 65000;

struct LoadReport {
  // errno of the call that failed the load; 0 when the load succeeded or
  // failed without a failing call (too large, not a regular file, short).
  int err = 0;
  struct stat opened = {};  // after a successful load: the descriptor read through
  // After a successful load: the label as a look by name saw it just before
  // it was opened, when that was the file opened (else as `opened`). Writers
  // compare a later look by name with it: the same kind of look.
  struct stat named = {};
  std::string bytes;  // after a successful load: the file as read, byte for byte
};

}  // namespace icl

#endif
