#ifndef ICL_LABEL_LABELRETRY_H
#define ICL_LABEL_LABELRETRY_H

// Reading a label that another host is replacing.
//
// Writers replace the label by renaming a complete new file over it. On
// shared storage (storage/Storage.h) a host that looked the name up a moment
// before can then meet ESTALE ("Stale file handle") when it opens or reads
// the label, or ENOENT while its client catches up, although a label is there
// all along. Such a load is tried again by name after a short pause, a
// bounded number of times (Backoff.h states the bounds); a failure that lasts
// is reported as before. A missing label is tried again only when the
// directory, listed afresh, still lists it: a directory without a label costs
// one listing and no pause. No read takes a lock or waits without bound, and
// nothing here writes to the directory. On a local file system neither
// failure can come from a replace, and nothing is retried.

#include <string>

#include "EvEvent.h"
#include "sys/Backoff.h"

namespace icl {

// Retries of one load; the pauses double from 2 ms to at most 100 ms:
// 526 ms in all.
const int kLabelLoadRetries = 10;

class LabelRetry {
 public:
  explicit LabelRetry(const std::string& labelPath);

  // After a load that failed with the whole-file reader's code `loadCode`
  // (ZUPI_FILE_NOT_FOUND or ZUPI_FILE_UNREADABLE; others never): when the
  // failure looks like another host's replace (the label answers ESTALE, is
  // readable again, or is missing by name while the directory lists it) and
  // retries remain, logs the retry at Debug as `function`, pauses, and
  // answers true; otherwise answers false at once to report the failure.
  bool pauseBeforeLoadingAgain(int loadCode, EvDebug& log, const char* function);

 private:
  std::string labelPath_;
  Backoff backoff_;
};

}  // namespace icl

#endif
