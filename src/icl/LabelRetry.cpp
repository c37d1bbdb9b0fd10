#include "LabelRetry.h"

#include <errno.h>
#include <fcntl.h>
#include <string.h>
#include <sys/stat.h>

#include <chrono>

#include "DirectoryListing.h"
#include "LabelDirectory.h"
#include "LabelNames.h"
#include "SharedStorage.h"
#include "ZUPIFileOpen.h"
#include "sys/FileIo.h"
#include "sys/SysCalls.h"

namespace icl {
namespace {

using std::chrono::milliseconds;

// Pauses while this host's name for the label is stale under the lock.
const int kStaleNameRetries = 12;

// What a fresh look at the label by name finds after a failed load.
enum class LabelState { Stale, Missing, Readable, Unreadable };

// Asks for an attribute that no client cache keeps. When this host's name
// for the label leads to a file another host has replaced, the server answers
// ESTALE and the kernel looks the name up again, so the next open finds the
// label that is there now. The answer itself does not matter.
}  // namespace

void lookUpAtServer(const std::string& path) {
  sys::calls().getxattr(path.c_str(), "user.icl.lookup", nullptr, 0);
}

namespace {

LabelState lookAtLabel(const std::string& path) {
  lookUpAtServer(path);
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

// Takes a read lock on the label through a new descriptor, which the file
// system must ask the server for. 0, or the errno of the open or the lock.
int lockLabelForReading(const std::string& labelPath) {
  sys::UniqueFd fd(sys::openRetry(labelPath.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK));
  if (!fd.valid()) return errno;
  struct flock shared = {};
  shared.l_type = F_RDLCK;
  shared.l_whence = SEEK_SET;
  return sys::retryEintr(sys::calls().fcntlLock, fd.get(), F_OFD_SETLK, &shared) == 0 ? 0 : errno;
}

// True when the name leads to the file the listing names, or when a listing
// is not the server's word here or its numbers cannot be compared with a
// look by name.
bool nameMatchesListing(const std::string& labelPath) {
  const LabelDirectory directory = LabelDirectory::of(labelPath);
  if (!listingIsTheServersWord(directory.path())) return true;
  ino64_t listedLabel = 0, listedLock = 0;
  struct stat label, lock;
  if (listedInodes(directory.path(), kLabelFileName, listedLabel, kLockFileName, listedLock) != 0 ||
      sys::calls().stat(directory.lock().c_str(), &lock) != 0 ||
      static_cast<ino64_t>(lock.st_ino) != listedLock) {
    return true;
  }
  if (sys::calls().stat(labelPath.c_str(), &label) != 0) return listedLabel == 0;
  return static_cast<ino64_t>(label.st_ino) == listedLabel;
}

}  // namespace

LabelRetry::LabelRetry(const std::string& labelPath)
    : labelPath_(labelPath), backoff_(kLabelLoadRetries, milliseconds(2), milliseconds(100)) {}

bool LabelRetry::pauseBeforeLoadingAgain(int loadCode, EvDebug& log, const char* function) {
  const bool mayBeAReplace = loadCode == ZUPI_FILE_NOT_FOUND || loadCode == ZUPI_FILE_UNREADABLE;
  if (!mayBeAReplace || backoff_.expired()) return false;
  if (storageKindOf(LabelDirectory::of(labelPath_).path()) != StorageKind::Shared) return false;
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

NameCheck revalidateLabelName(const std::string& labelPath) {
  Backoff staleHandle(kLabelLoadRetries, milliseconds(2), milliseconds(100));
  do {
    lookUpAtServer(labelPath);
  } while (lockLabelForReading(labelPath) == ESTALE && staleHandle.pause());
  Backoff staleName(kStaleNameRetries, milliseconds(2), milliseconds(250));
  while (!nameMatchesListing(labelPath)) {
    if (!staleName.pause()) return NameCheck::StillStale;
    lookUpAtServer(labelPath);
  }
  return NameCheck::Fresh;
}

}  // namespace icl
