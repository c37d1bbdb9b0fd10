#ifndef ICL_ICLTOOLSUPPORT_H
#define ICL_ICLTOOLSUPPORT_H

// Ways in for operator tools such as the icl command: feedback while a
// writer waits for another writer's label lock, a bound on that wait, and
// the progress and gaps of a disk-usage walk. Hosts need none of it, and nothing in
// ICLRoutines.h or IdxCacheDirInfo.h changes with it.
//
// Every setting is process-wide. A callback runs on the thread that waits or
// walks, on several threads at once if several do; it must not throw, and
// must not set or clear a callback itself. Once a setter returns, the
// callback it replaced is not running and is never called again. With no
// callback set, waits and walks cost what they cost without this header.

#include "ICLExport.h"

// --- The writers' label lock ---------------------------------------------

// How long a writer (UpdateICL, RemoveAccessPathIDfromICL, WriteNewICL,
// CheckICL adding an access path) waits for the label lock held by another
// writer: 30000 ms unless set; 0 tries once and does not wait; a negative
// value counts as 0. A writer that gives up fails with ICL_ERROR_FILE_LOCK
// and an Error line that names the limit. A new limit applies to the waits
// that start after the call.
ICL_API void ICLToolSetLabelLockWaitLimit(long long milliseconds);

// Called while a writer waits for the label lock: after each refused
// attempt (about every 10 ms) with the milliseconds since the first one.
// Never called when the lock is free at once.
typedef void (*ICLLabelLockWaitCallback)(long long waitedMilliseconds, void* context);
// A null callback clears it.
ICL_API void ICLToolSetLabelLockWaitCallback(ICLLabelLockWaitCallback callback, void* context);

// --- Disk-usage walks ------------------------------------------------------

// What one walk has counted since it started.
struct ICLWalkProgress {
  long long files;        // regular files
  long long directories;  // directories opened, the walk's own included
  long long bytes;        // the files' lengths, summed
  int finished;           // 1 in the walk's last report
};

// Called during each walk of getDiskUsage, and of getIndexCacheDiskUsageKB
// (one walk per well-known sub-directory), that starts while it is set:
// about every 100 ms while the walk runs, and once more when it ends.
typedef void (*ICLWalkProgressCallback)(const ICLWalkProgress* progress, void* context);
// A null callback clears it.
ICL_API void ICLToolSetWalkProgressCallback(ICLWalkProgressCallback callback, void* context);

// Called, while it is set, for each part of a tree that a walk of
// getDiskUsage or getIndexCacheDiskUsageKB leaves out of its total because
// it cannot read it, right after the walk's Error line about it: a
// directory it cannot open or list (the walk's own directory included), an
// entry it cannot examine, a well-known sub-directory whose presence cannot
// be told. `path` is the part's path as the Error line shows it, `call` the
// call that failed ("access", "openat", "getdents64", "fstatat") and
// `error` its errno. Two cases have no errno (`error` 0): a directory that
// was moved or replaced while the walk was below it (`call` "openat"), and
// a directory whose walk an exception from a log call ended (`call` "log").
// An entry removed while the walk runs is no gap: it is not reported. A
// walk that reports nothing counted everything it was asked to measure.
typedef void (*ICLWalkGapCallback)(const char* path, const char* call, int error, void* context);
// A null callback clears it.
ICL_API void ICLToolSetWalkGapCallback(ICLWalkGapCallback callback, void* context);

#endif
