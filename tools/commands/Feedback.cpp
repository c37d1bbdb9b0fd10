#include "Feedback.h"

#include <stdlib.h>
#include <unistd.h>

#include "output/Output.h"
#include "output/Report.h"
#include "output/Text.h"

namespace icl {
namespace tool {
namespace {

const long long kNoticeAfterMilliseconds = 1000;
const long long kDefaultLockWaitSeconds = 30;
const char* const kClearLine = "\r\033[K";

// 1536 -> "1.5 KiB"; below 1 KiB, bytes.
std::string humanBytes(long long bytes) {
  static const char* const kUnits[] = {"KiB", "MiB", "GiB", "TiB", "PiB"};
  if (bytes < 1024) return format("%lld bytes", bytes);
  double value = static_cast<double>(bytes) / 1024;
  size_t unit = 0;
  for (; value >= 1024 && unit + 1 < sizeof kUnits / sizeof kUnits[0]; ++unit) value /= 1024;
  return format("%.1f %s", value, kUnits[unit]);
}

// ICL_PROGRESS_DELAY_MS when it is a plain non-negative number, else 1000.
std::chrono::milliseconds progressDelay() {
  const char* text = getenv("ICL_PROGRESS_DELAY_MS");
  bool outOfRange = false;
  auto value = parseDecimal(text != nullptr ? text : "", 0, 3600 * 1000, outOfRange);
  return std::chrono::milliseconds(value.value_or(1000));
}

}  // namespace

LockWaitNotice::LockWaitNotice(const Invocation& inv)
    : command_(inv.command),
      dir_(printable(inv.dir)),
      seconds_(inv.waitSeconds.value_or(kDefaultLockWaitSeconds)) {
  if (inv.waitSeconds) ICLToolSetLabelLockWaitLimit(seconds_ * 1000);
  if (inv.json || inv.quiet) return;
  ICLToolSetLabelClaimWaitCallback(&LockWaitNotice::onClaimWait, this);
  ICLToolSetLabelLockWaitCallback(&LockWaitNotice::onWait, this);
}

LockWaitNotice::~LockWaitNotice() {
  ICLToolSetLabelLockWaitCallback(nullptr, nullptr);
  ICLToolSetLabelClaimWaitCallback(nullptr, nullptr);
}

void LockWaitNotice::onClaimWait(const char* writer, long long unchangedMilliseconds, void* self) {
  LockWaitNotice& notice = *static_cast<LockWaitNotice*>(self);
  notice.claimWriter_ = writer;
  notice.claimUnchangedMilliseconds_ = unchangedMilliseconds;
}

void LockWaitNotice::onWait(long long waitedMilliseconds, void* self) {
  LockWaitNotice& notice = *static_cast<LockWaitNotice*>(self);
  if (notice.said_ || waitedMilliseconds < kNoticeAfterMilliseconds) return;
  notice.said_ = true;
  if (notice.claimWriter_.empty()) {
    writeNotice(
        format("icl %s: waiting for the label lock on %s... (another writer holds it; "
               "giving up after %lld s)\n",
               notice.command_.c_str(), notice.dir_.c_str(), notice.seconds_));
    return;
  }
  writeNotice(
      format("icl %s: waiting for the label claim on %s, held by writer %s, unchanged for "
             "%lld ms... (a claim unchanged for 10 s is taken over as a gone writer's; "
             "giving up after %lld s)\n",
             notice.command_.c_str(), notice.dir_.c_str(), printable(notice.claimWriter_).c_str(),
             notice.claimUnchangedMilliseconds_, notice.seconds_));
}

ProgressLine::ProgressLine(const Invocation& inv)
    : active_(!inv.json && !inv.quiet && !inv.verbose && isatty(STDERR_FILENO) == 1),
      start_(std::chrono::steady_clock::now()),
      delay_(progressDelay()) {
  if (active_) ICLToolSetWalkProgressCallback(&ProgressLine::onProgress, this);
}

ProgressLine::~ProgressLine() {
  if (!active_) return;
  ICLToolSetWalkProgressCallback(nullptr, nullptr);
  if (shown_) writeNotice(kClearLine);
}

void ProgressLine::onProgress(const ICLWalkProgress* progress, void* self) {
  static_cast<ProgressLine*>(self)->show(*progress);
}

void ProgressLine::show(const ICLWalkProgress& walk) {
  const ICLWalkProgress total = {done_.files + walk.files, done_.directories + walk.directories,
                                 done_.bytes + walk.bytes, 0};
  if (walk.finished) done_ = total;
  if (std::chrono::steady_clock::now() - start_ < delay_) return;
  shown_ = true;
  writeNotice(format("%sdu: %lld file%s, %lld director%s, %s so far", kClearLine, total.files,
                     total.files == 1 ? "" : "s", total.directories,
                     total.directories == 1 ? "y" : "ies", humanBytes(total.bytes).c_str()));
}

}  // namespace tool
}  // namespace icl
