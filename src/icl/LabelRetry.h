#ifndef ICL_ICL_LABELRETRY_H
#define ICL_ICL_LABELRETRY_H

// Reading a label that another host is replacing.
//
// Writers replace the label by renaming a complete new file over it. On
// shared storage (SharedStorage.h) a host that looked the name up a moment
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

#include "Backoff.h"
#include "EvEvent.h"

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

// Asks the server for an attribute of `path` that no client cache keeps, so
// that the kernel looks the name up again where this host's entry leads to a
// file another host has replaced. The answer itself does not matter.
void lookUpAtServer(const std::string& path);

// What a writer learns of the label's name under the writers' lock.
enum class NameCheck {
  Fresh,       // the name leads to the file the server lists, or cannot be compared
  StillStale,  // this host still finds another file under the name than the server lists
};

// Under the writers' lock on shared storage, before the label is loaded:
// asks the server about the label's name (an attribute no cache keeps), which
// makes the kernel look the name up again when this host's entry leads to a
// label another host has replaced; then opens the label and takes a read
// lock on that descriptor (never waiting), which the file system must take
// at the server. A name that is still stale there (ESTALE) is tried again
// after a pause, as a load is. Without it, a GlusterFS client with default
// options loads a replaced label from its caches for up to a second after
// another host's change, and the change is lost.
//
// Then, where a fresh listing is the server's word (SharedStorage.h) and
// gives the same inode numbers as a look at a file by name (checked on the
// lock file, which is never replaced), the label's name must lead to the
// file the listing names: a client that keeps
// names for a while (an entry timeout) can lead to a replaced label that
// never answers ESTALE. While they differ this waits, 1.5 s at most
// (Backoff.h), and answers StillStale if they still do. Anything else that
// fails is left to the load that follows.
NameCheck revalidateLabelName(const std::string& labelPath);

}  // namespace icl

#endif
