#ifndef ICL_DISKUSAGE_DETAILLOGGING_H
#define ICL_DISKUSAGE_DETAILLOGGING_H

// The per-entry logging switch of the disk-usage walk: the setting
// "nAddZukpLogForIcdSize" in section "~Keeper", read once per process.

namespace icl {
namespace idxcache {

// Reads the setting the first time any thread gets here; concurrent first
// callers wait for that one read, and later changes of the setting are
// never seen.
void readDetailLoggingOnce();

// -1 while the setting has not been read, then 0 (off) or 1 (on).
int detailLogging();

}  // namespace idxcache
}  // namespace icl

#endif
