#ifndef ICL_ICL_LABELRETRY_H
#define ICL_ICL_LABELRETRY_H

// Reading a label that another host is replacing.
//
// Writers replace the label by renaming a complete new file over it. On
// shared storage (SharedStorage.h) a host that looked the name up a moment
// before can then meet ESTALE ("Stale file handle") when it opens or reads
// the label, or ENOENT while its client catches up, although a label is there
// all along. Such a load is tried again by name after a short pause, a
// bounded number of times; a failure that lasts is reported as before. No
// read takes a lock or waits without bound, and nothing here writes to the
// directory. On a local file system neither failure can come from a replace,
// and nothing is retried.

#include <string>

#include "EvEvent.h"

namespace icl {

// Retries of one load, and the longest pause between two (they double from
// 2 ms): about half a second in all.
const int kLabelLoadRetries = 10;
const int kLabelRetryPauseLimitMs = 100;

class LabelRetry {
 public:
  explicit LabelRetry(const std::string& labelPath) : labelPath_(labelPath) {}

  // After a load that failed with the whole-file reader's code `loadCode`
  // (ZUPI_FILE_NOT_FOUND or ZUPI_FILE_UNREADABLE; others never): true, once
  // the pause is over, when the failure looks like another host's replace
  // (the label answers ESTALE, is readable again, or is missing while
  // icl_label.lock is there) and retries remain; false to report the failure.
  // Logs each retry at Debug as `function`.
  bool again(int loadCode, EvDebug& log, const char* function);

 private:
  std::string labelPath_;
  int retries_ = 0;
};

// Under the writers' lock on shared storage, before the label is loaded:
// asks the server about the label's name (an attribute no cache keeps), which
// makes the kernel look the name up again when this host's entry leads to a
// label another host has replaced; then opens the label and takes a read
// lock on that descriptor (never waiting), which the file system must take
// at the server. A name that is still stale there (ESTALE) is tried again
// after a pause, as a load is. Best effort: the load that follows reports
// what fails. Without it, a GlusterFS client with default options loads a
// replaced label from its caches for up to a second after another host's
// change, and the change is lost.
void revalidateLabelName(const std::string& labelPath);

}  // namespace icl

#endif
