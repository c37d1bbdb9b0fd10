#include "sys/DirectoryListing.h"

#include <errno.h>
#include <fcntl.h>
#include <stdint.h>
#include <string.h>

#include <memory>
#include <new>

#include "sys/FileIo.h"
#include "sys/SysCalls.h"

namespace icl {
namespace {

const size_t kBufferSize = 32 * 1024;
const int kMaxReads = 4096;  // 128 MiB of entries: far past any label directory

// One record as getdents64 lays it out.
struct RawEntry {
  uint64_t inode;
  int64_t offset;
  unsigned short length;
  unsigned char type;
  char name[1];
};

const size_t kNameOffset = offsetof(RawEntry, name);

// Visits the records of one read; false on a record no kernel writes.
bool visitRecords(const char* buffer, size_t size,
                  const std::function<void(const char*, ino64_t)>& visit) {
  for (size_t at = 0; at < size;) {
    RawEntry entry;
    if (size - at < kNameOffset) return false;
    memcpy(&entry, buffer + at, kNameOffset);
    if (entry.length <= kNameOffset || entry.length > size - at) return false;
    const char* name = buffer + at + kNameOffset;
    if (memchr(name, '\0', entry.length - kNameOffset) == nullptr) return false;
    visit(name, static_cast<ino64_t>(entry.inode));
    at += entry.length;
  }
  return true;
}

}  // namespace

int listDirectory(const std::string& directory,
                  const std::function<void(const char* name, ino64_t inode)>& visit) {
  sys::UniqueFd dir(sys::openRetry(directory.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (!dir.valid()) return errno;
  std::unique_ptr<char[]> buffer(new (std::nothrow) char[kBufferSize]);
  if (!buffer) return ENOMEM;
  for (int reads = 0; reads < kMaxReads; ++reads) {
    const ssize_t got = sys::retryEintr(sys::calls().getdents64, dir.get(),
                                        static_cast<void*>(buffer.get()), kBufferSize);
    if (got < 0) return errno;
    if (got == 0) return 0;
    if (!visitRecords(buffer.get(), static_cast<size_t>(got), visit)) return EIO;
  }
  return EIO;
}

int listedInodes(const std::string& directory, const char* first, ino64_t& firstInode,
                 const char* second, ino64_t& secondInode) {
  firstInode = 0;
  secondInode = 0;
  return listDirectory(directory, [&](const char* name, ino64_t inode) {
    if (strcmp(name, first) == 0) firstInode = inode;
    if (strcmp(name, second) == 0) secondInode = inode;
  });
}

}  // namespace icl
