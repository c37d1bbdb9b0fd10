#include "storage/ServerLookup.h"

#include <errno.h>
#include <fcntl.h>

#include <chrono>

#include "label/LabelDirectory.h"
#include "label/LabelNames.h"
#include "sys/Backoff.h"
#include "sys/DirectoryListing.h"
#include "sys/FileIo.h"
#include "sys/SysCalls.h"

namespace icl {
namespace {

using std::chrono::milliseconds;

const int kStaleHandleRetries = 10;
const int kStaleNameRetries = 12;

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

ino64_t inodeByName(const std::string& path) {
  struct stat st;
  return sys::calls().stat(path.c_str(), &st) == 0 ? static_cast<ino64_t>(st.st_ino) : 0;
}

}  // namespace

void lookUpAtServer(const std::string& path, const StorageFacts& facts) {
  if (!facts.serverLookups) return;
  if (sys::calls().getxattr(path.c_str(), "user.icl.lookup", nullptr, 0) < 0 &&
      (errno == EOPNOTSUPP || errno == ENOTSUP)) {
    noteNoServerLookups(LabelDirectory::of(path).path());
  }
}

ListingSays listingSaysOfLabel(const std::string& labelPath, ino64_t inode,
                               const StorageFacts& facts) {
  if (!facts.listingIsServersWord) return ListingSays::CannotTell;
  const LabelDirectory directory = LabelDirectory::of(labelPath);
  ino64_t listedLabel = 0, listedLock = 0;
  if (listedInodes(directory.path(), kLabelFileName, listedLabel, kLockFileName, listedLock) != 0 ||
      inodeByName(directory.lock()) != listedLock) {
    return ListingSays::CannotTell;
  }
  return listedLabel == inode ? ListingSays::Same : ListingSays::Different;
}

NameCheck revalidateLabelName(const std::string& labelPath, const StorageFacts& facts) {
  Backoff staleHandle(kStaleHandleRetries, milliseconds(2), milliseconds(100));
  do {
    lookUpAtServer(labelPath, facts);
  } while (lockLabelForReading(labelPath) == ESTALE && staleHandle.pause());
  Backoff staleName(kStaleNameRetries, milliseconds(2), milliseconds(250));
  // Where the listing cannot tell, the look-up above decides alone.
  while (facts.listingIsServersWord &&
         listingSaysOfLabel(labelPath, inodeByName(labelPath), facts) == ListingSays::Different) {
    if (!staleName.pause()) return NameCheck::StillStale;
    lookUpAtServer(labelPath, facts);
  }
  return NameCheck::Fresh;
}

}  // namespace icl
