#ifndef ICL_ICL_DIRECTORYLISTING_H
#define ICL_ICL_DIRECTORYLISTING_H

// What a directory lists now, read afresh through a new descriptor.
//
// On shared storage a listing is answered by the server, while a name looked
// up a moment ago may be answered from this host's caches: the inode number
// a listing gives for a name is therefore the server's word on which file
// the name holds. Writers sweep their leftovers from a listing too.

#include <sys/types.h>

#include <functional>
#include <string>

namespace icl {

// Calls `visit(name, inode)` for every entry of `directory` ("." and ".."
// included), in the order the file system lists them. 0, or the errno of the
// call that failed (EIO for a listing too long to be a label directory's).
int listDirectory(const std::string& directory,
                  const std::function<void(const char* name, ino64_t inode)>& visit);

// The inode numbers the listing gives for `first` and `second` (0 where the
// name is not listed). 0, or the errno of a failed listing.
int listedInodes(const std::string& directory, const char* first, ino64_t& firstInode,
                 const char* second, ino64_t& secondInode);

}  // namespace icl

#endif
