#ifndef ICL_DISKUSAGE_OPENANCESTORS_H
#define ICL_DISKUSAGE_OPENANCESTORS_H

// The directory descriptors the size walk holds, however deep the tree.
//
// Each directory is opened relative to its parent's descriptor, never by a
// full path. At most maxOpen are held: the root stays open, and so do the
// top and its parent; past the bound the shallowest other open ancestor is
// evicted: the rest of its listing is read into its Frame, its device and
// inode are recorded, and it is closed. It is opened again when the walk
// comes back up, through its child's "..", or, failing that, name by name
// from the deepest ancestor still open; each step must show the recorded
// device and inode, else the directory counts as one that cannot be opened
// rather than a moved tree being counted in its place.

#include <stddef.h>

#include "diskusage/ListingBuffer.h"
#include "diskusage/WalkFrame.h"

namespace icl {
namespace idxcache {

// Invariant: count_ descriptors are open among path.frames[0, top], no more
// than maxOpen_ while there is an ancestor left to evict, and none at the
// levels [1, firstOpen_).
class OpenAncestors {
 public:
  OpenAncestors(WalkPath& path, ListingBuffer& listings, size_t maxOpen);

  // Opens the top directory: the root by its path (which may be a link),
  // any other by its name in its parent, evicting ancestors as needed.
  // Returns 0, or the errno of the failed open.
  int openTop();

  // What reopenTop returns when a directory on the way back is not the
  // one that was left: moved or replaced while the walk was below it.
  static constexpr int kNotTheSame = -1;

  // Opens the evicted top again from the deepest ancestor still open.
  // Returns 0, the errno of the failed open, or kNotTheSame when it cannot
  // be found again as it was.
  int reopenTop();

  // While the top is still open and its parent evicted: opens the parent
  // again through the top's "..", if that is still the same directory.
  void reopenParentThroughDotDot();

  // Closes the top's descriptor, if it holds one. A failed close of a
  // directory loses nothing; the descriptor is gone either way.
  void closeTop();

 private:
  bool evictOne();
  bool isSameDirectory(int fd, const DirIdentity& id) const;

  WalkPath& path_;
  ListingBuffer& listings_;
  const size_t maxOpen_;
  size_t count_ = 0;
  size_t firstOpen_ = 1;
};

}  // namespace idxcache
}  // namespace icl

#endif
