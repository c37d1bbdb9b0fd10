#ifndef ICL_DISKUSAGE_WELLKNOWNDIRS_H
#define ICL_DISKUSAGE_WELLKNOWNDIRS_H

namespace icl {
namespace idxcache {

// How many well-known sub-directories GetIdxCacheDirList names (0 to 5).
constexpr int kWellKnownDirCount = 6;

}  // namespace idxcache
}  // namespace icl

#endif
