#include "diskusage/ListingBuffer.h"

#include <errno.h>

#include "sys/FileIo.h"
#include "sys/SysCalls.h"

namespace icl {
namespace idxcache {
namespace {

constexpr size_t kListingBufferSize = 32 * 1024;

}  // namespace

ListingBuffer::ListingBuffer() : buffer_(new char[kListingBufferSize]) {}

const char* ListingBuffer::nextSlowly(DirListing& dir, int fd, int* err) {
  for (;;) {
    if (dir.savedPos < dir.saved.size()) {
      const char* record = dir.saved.data() + dir.savedPos;
      size_t length = recordLength(record, dir.saved.size() - dir.savedPos);
      if (length != 0) {
        dir.savedPos += length;
        return record;
      }
      dir.listed = true;  // a damaged record: nothing after it can be trusted
      dir.listErrno = EIO;
      dir.savedPos = dir.saved.size();
      continue;
    }
    if (pos_ < end_) {
      const char* record = buffer_.get() + pos_;
      size_t length = recordLength(record, end_ - pos_);
      if (length != 0) {
        pos_ += length;
        return record;
      }
      dir.listed = true;
      dir.listErrno = EIO;
      clear();
      continue;
    }
    if (dir.listed) {
      *err = dir.listErrno;
      dir.listErrno = 0;
      return nullptr;
    }
    dir.discard();
    ssize_t n = readListing(fd);
    if (n < 0) {
      dir.listErrno = errno;
      dir.listed = true;
    } else if (n == 0) {
      dir.listed = true;
    } else {
      pos_ = 0;
      end_ = static_cast<size_t>(n);
    }
  }
}

void ListingBuffer::park(DirListing& dir) {
  if (pos_ < end_) {
    dir.saved.assign(buffer_.get() + pos_, buffer_.get() + end_);
    dir.savedPos = 0;
  }
  clear();
}

void ListingBuffer::drain(DirListing& dir, int fd) {
  if (dir.listed) return;
  dir.saved.erase(dir.saved.begin(), dir.saved.begin() + static_cast<ptrdiff_t>(dir.savedPos));
  dir.savedPos = 0;
  for (;;) {
    ssize_t n = readListing(fd);
    if (n < 0) {
      dir.listErrno = errno;  // reported when the walk gets back to this point
      dir.listed = true;
      return;
    }
    if (n == 0) {
      dir.listed = true;
      return;
    }
    dir.saved.insert(dir.saved.end(), buffer_.get(), buffer_.get() + n);
  }
}

ssize_t ListingBuffer::readListing(int fd) {
  return sys::retryEintr(sys::calls().getdents64, fd, buffer_.get(), kListingBufferSize);
}

}  // namespace idxcache
}  // namespace icl
