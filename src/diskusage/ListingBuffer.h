#ifndef ICL_DISKUSAGE_LISTINGBUFFER_H
#define ICL_DISKUSAGE_LISTINGBUFFER_H

// Directory listings for the size walk: getdents64 into one buffer, reused
// by whichever directory the walk is in, so a deep walk holds one buffer
// and not one per level. A directory the walk leaves before it has handled
// all of its records (to enter a sub-directory, or because its descriptor is
// to be closed) keeps the rest in its own DirListing.

#include <stddef.h>
#include <sys/types.h>

#include <memory>
#include <vector>

#include "diskusage/DirRecords.h"

namespace icl {
namespace idxcache {

// What one directory's listing holds beyond the shared buffer.
struct DirListing {
  std::vector<char> saved;  // records not handled yet, moved out of the buffer
  size_t savedPos = 0;      // the next of them
  bool listed = false;      // getdents64 reported the end, or failed
  int listErrno = 0;        // a failed or damaged listing, reported at its end

  // For the next directory at this depth; keeps the capacity.
  void reset() {
    discard();
    listed = false;
    listErrno = 0;
  }
  // Forgets the records not handled: the walk of this directory is over.
  void discard() {
    saved.clear();
    savedPos = 0;
  }
};

// Invariant: buffer_[pos_, end_) holds records of the directory the walk is
// in (its "top") and of no other, none of them handled yet.
class ListingBuffer {
 public:
  ListingBuffer();

  // The next record of the top directory `dir`, open as `fd`: first its
  // saved records, then the buffer's, then a fresh read. nullptr at the end
  // of its listing, with *err the errno of a failed listing (EIO for a
  // damaged one, after which nothing can be trusted), or 0. A record is
  // valid until the next call.
  const char* next(DirListing& dir, int fd, int* err) {
    // Most records are taken here, inline; the rest of the work out of line.
    const char* record = dir.savedPos < dir.saved.size()
                             ? take(dir.saved.data(), dir.savedPos, dir.saved.size())
                             : take(buffer_.get(), pos_, end_);
    return record != nullptr ? record : nextSlowly(dir, fd, err);
  }

  // Before the walk enters a sub-directory of the top `dir`: moves the
  // records the buffer holds for it into `dir`, and empties the buffer.
  void park(DirListing& dir);

  // Reads the rest of the listing of `dir` (open as `fd`) into `dir`, so
  // that its descriptor can be closed. Only while the buffer is empty (the
  // top has read nothing yet); a failure is kept in `dir` for its end.
  void drain(DirListing& dir, int fd);

  // Forgets the buffer's records: the walk has left the top directory.
  void clear() { pos_ = end_ = 0; }

 private:
  // The next whole record of data[pos, end), moving pos past it; nullptr
  // when there is none or it is damaged.
  static const char* take(const char* data, size_t& pos, size_t end) {
    if (pos >= end) return nullptr;
    const char* record = data + pos;
    const size_t length = recordLength(record, end - pos);
    if (length == 0) return nullptr;
    pos += length;
    return record;
  }
  // The rest of next(): a damaged record, the end of the listing, a fresh read.
  const char* nextSlowly(DirListing& dir, int fd, int* err);
  // One getdents64 into the buffer: the bytes read, 0 at the end, or -1.
  ssize_t readListing(int fd);

  std::unique_ptr<char[]> buffer_;
  size_t pos_ = 0;
  size_t end_ = 0;
};

}  // namespace idxcache
}  // namespace icl

#endif
