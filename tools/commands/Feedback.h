#ifndef ICL_TOOLS_COMMANDS_FEEDBACK_H
#define ICL_TOOLS_COMMANDS_FEEDBACK_H

// Feedback on standard error while an operation takes long, so an operator
// is not left facing a silent terminal: a notice when a writer has waited a
// second for another writer's label lock or claim, and a live progress line while a
// disk-usage walk runs on a terminal. Neither is a result: never with
// --json or --quiet, and a failure to show them fails nothing.

#include <chrono>
#include <string>

#include "ICLToolSupport.h"
#include "cli/CommandLine.h"

namespace icl {
namespace tool {

// For the lifetime of a writing command: bounds the wait for the label lock
// and claim by --wait and, unless --json or --quiet, says once that it
// waits, and for what: the lock, or a claim and the writer it names.
class LockWaitNotice {
 public:
  explicit LockWaitNotice(const Invocation& inv);
  ~LockWaitNotice();
  LockWaitNotice(const LockWaitNotice&) = delete;
  LockWaitNotice& operator=(const LockWaitNotice&) = delete;

 private:
  static void onWait(long long waitedMilliseconds, void* self);
  static void onClaimWait(const char* writer, long long unchangedMilliseconds, void* self);

  std::string command_;
  std::string dir_;
  long long seconds_ = 0;
  std::string claimWriter_;  // set while the wait is for a claim
  long long claimUnchangedMilliseconds_ = 0;
  bool said_ = false;
};

// For the lifetime of a disk-usage command: when standard error is a
// terminal and neither --json, --quiet nor -v is given, a line of files,
// directories and bytes counted so far, shown once the walks have run
// longer than ICL_PROGRESS_DELAY_MS (default 1000), and cleared at the end.
class ProgressLine {
 public:
  explicit ProgressLine(const Invocation& inv);
  ~ProgressLine();
  ProgressLine(const ProgressLine&) = delete;
  ProgressLine& operator=(const ProgressLine&) = delete;

 private:
  static void onProgress(const ICLWalkProgress* progress, void* self);
  void show(const ICLWalkProgress& walk);

  bool active_;
  bool shown_ = false;
  std::chrono::steady_clock::time_point start_;
  std::chrono::milliseconds delay_;
  ICLWalkProgress done_ = {0, 0, 0, 0};  // the walks that have finished
};

}  // namespace tool
}  // namespace icl

#endif
