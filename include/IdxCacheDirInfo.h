#ifndef ICL_IDXCACHEDIRINFO_H
#define ICL_IDXCACHEDIRINFO_H

// Disk usage of an index cache, in kilobytes.
//
// An index cache keeps its data in six well-known sub-directories. Each
// regular file counts as its length / 1024 + 1 KB; directories, symbolic
// links and special files count nothing. Links inside a walk are never
// followed; a well-known sub-directory that is itself a link to a
// directory is measured where it leads.
//
// What a caller can rely on: a walk only reads (it never writes, locks or
// changes anything under `path`), keeps nothing between calls but the
// setting named below, and may run on several threads at once. A tree that
// changes while it is walked gives the total of what the walk met; that
// alone never fails a walk.

#include "ICLExport.h"

// The well-known sub-directory names, index 0 to 5 ("ZU_Index" first); any
// other index yields "sIdxCacheDirList: index out of range".
ICL_API const char* GetIdxCacheDirList(int index);

// The summed size of the well-known sub-directories under `path`; -1 when
// `path` is null, empty, longer than 255 characters, or not an existing
// directory. Sub-trees that cannot be walked lower the total; they never
// fail the query, but each has an Error line that names the failed call
// and its errno (operator tools learn of them through ICLToolSupport.h). The first call in the
// process reads the setting "nAddZukpLogForIcdSize" in "~Keeper" (non-zero: detailed Debug lines);
// later changes of the setting are not seen.
ICL_API long long getIndexCacheDiskUsageKB(const char* path);

// The recursive size of the directory `path`; -1 when it cannot be opened,
// or when a ZuException or int thrown by a log call interrupts its walk
// (other exceptions reach the caller). Links below `path` are never
// followed. Any depth is measured, holding at most 64 directories (a
// quarter of the open-file limit, if less) open at once; entries removed
// while the walk runs add nothing and are logged at Debug level. Before the
// first getIndexCacheDiskUsageKB of the process, no detailed lines.
ICL_API long long getDiskUsage(const char* path);

#endif
