#ifndef ICL_DISKUSAGE_WALKFRAME_H
#define ICL_DISKUSAGE_WALKFRAME_H

// The state of the size walk: one Frame per directory on the path from the
// walk's root to the directory it is in (the top), kept on the heap so no
// tree is too deep for the native stack.

#include <stddef.h>
#include <sys/types.h>

#include <string>
#include <vector>

#include "diskusage/ListingBuffer.h"
#include "sys/FileIo.h"

namespace icl {
namespace idxcache {

// What one directory goes through, as a recursive walk would in one call:
//
//   Start      log "Starting processing path"              -> Open
//   Open       open it, relative to its parent             -> Walk; failed: -1 to the parent
//   Walk       handle its entries, one by one (the guarded part); at a
//              sub-directory the child's frame goes on top, and this one is
//              back in Walk when the child's result is handed up
//                                                          -> Finish at the end of the listing
//                                                          -> Lost, evicted and not found again
//                                                          -> CaughtZu / CaughtInt, see below
//   Lost       log that it cannot be opened                -> -1 to the parent
//   CaughtZu   log the exception's text, total -1          -> Finish
//   CaughtInt  log the reset line, total -1                -> Finish
//   Finish     close, log "Finished processing path"       -> its total to the parent, or
//                                                             the walk's result at the root
//
// Exceptions thrown by log calls (a host's sink may throw) are caught where
// the recursive walk's try block around a directory's entries would catch
// them: thrown while the top is in Walk, by the top; in any other phase
// (its Start, Open, Lost and Finish lines lie outside its own guard), by its
// parent; by the root's own lines, by nobody. The catching frame's deeper
// frames are dropped, and it goes to CaughtZu or CaughtInt. Any other
// exception leaves the walk.
enum class Phase : unsigned char { Start, Open, Walk, Lost, CaughtZu, CaughtInt, Finish };

// A directory's device and inode, recorded when its descriptor is closed
// early, so that what is opened again can be checked to be the same.
struct DirIdentity {
  bool known = false;
  dev_t dev = 0;
  ino_t ino = 0;
};

struct Frame {
  sys::UniqueFd fd;    // invalid before Open and while evicted
  DirIdentity id;      // recorded at eviction
  DirListing listing;  // its records beyond the shared buffer
  size_t pathLen = 0;  // the length of the walk's path while this frame is the top
  long long total = 0;
  Phase phase = Phase::Start;

  void reset(size_t length) {
    pathLen = length;
    total = 0;
    phase = Phase::Start;
    listing.reset();
    id.known = false;
  }
};

// The walk's current path: its text and one Frame per level.
struct WalkPath {
  std::string text;           // the top's full path; a '/' before each level's name
  std::vector<Frame> frames;  // [0, top] are the levels; deeper ones are kept for reuse
  size_t top = 0;

  Frame& topFrame() { return frames[top]; }
  // The top's own name (top > 0), the last part of `text`.
  const char* topName() const { return text.c_str() + frames[top - 1].pathLen + 1; }
};

}  // namespace idxcache
}  // namespace icl

#endif
