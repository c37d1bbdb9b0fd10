#include "label/LabelRetry.h"

#include <errno.h>
#include <fcntl.h>
#include <string.h>
#include <sys/stat.h>

#include <chrono>

#include "ZUPIFileOpen.h"
#include "label/LabelDirectory.h"
#include "label/LabelNames.h"
#include "storage/ServerLookup.h"
#include "sys/DirectoryListing.h"
#include "sys/FileIo.h"
#include "sys/SysCalls.h"

namespace icl {
namespace {

using std::chrono::milliseconds;

// What a fresh look at the label by name finds after a failed load.
enum class LabelState { Stale, Missing, Readable, Unreadable };

LabelState lookAtLabel(const std::string& path) {
  lookUpAtServer(path, storageFactsOf(LabelDirectory::of(path).path()));
  sys::UniqueFd fd(sys::openRetry(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK));
  int err = 0;
  struct stat st;
  char byte;
  if (!fd.valid()) {
    err = errno;
  } else if (sys::calls().fstat(fd.get(), &st) != 0) {
    err = errno;
  } else if (!S_ISREG(st.st_mode)) {
    return LabelState::Unreadable;
  } else if (sys::readFull(fd.get(), &byte, 1) < 0) {
    err = errno;
  } else {
    return LabelState::Readable;
  }
  if (err == ESTALE) return LabelState::Stale;
  return err == ENOENT ? LabelState::Missing : LabelState::Unreadable;
}

// The server's word: does the directory list the label's name now?
bool labelListed(const std::string& labelPath) {
  ino64_t label = 0, unused = 0;
  return listedInodes(LabelDirectory::of(labelPath).path(), kLabelFileName, label, kLabelFileName,
                      unused) == 0 &&
         label != 0;
}

const char* describe(LabelState state) {
  switch (state) {
    case LabelState::Stale:
      return strerror(ESTALE);
    case LabelState::Missing:
      return "missing by name while the directory lists it";
    default:
      return "readable again";
  }
}

}  // namespace

LabelRetry::LabelRetry(const std::string& labelPath)
    : labelPath_(labelPath), backoff_(kLabelLoadRetries, milliseconds(2), milliseconds(100)) {}

bool LabelRetry::pauseBeforeLoadingAgain(int loadCode, EvDebug& log, const char* function) {
  const bool mayBeAReplace = loadCode == ZUPI_FILE_NOT_FOUND || loadCode == ZUPI_FILE_UNREADABLE;
  if (!mayBeAReplace || backoff_.expired()) return false;
  if (storageFactsOf(LabelDirectory::of(labelPath_).path()).kind != StorageKind::Shared)
    return false;
  const LabelState state =
      loadCode == ZUPI_FILE_NOT_FOUND ? LabelState::Missing : lookAtLabel(labelPath_);
  if (state == LabelState::Unreadable) return false;
  if (state == LabelState::Missing && !labelListed(labelPath_)) return false;
  log.Debug(function,
            "Index cache label [%s] is being replaced by another host (%s): loading it again "
            "(retry %d of %d).",
            labelPath_.c_str(), describe(state), backoff_.taken() + 1, kLabelLoadRetries);
  return backoff_.pause();
}

}  // namespace icl
