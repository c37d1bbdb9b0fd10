#ifndef ICL_ICLTOOLSUPPORT_H
#define ICL_ICLTOOLSUPPORT_H

// Ways in for operator tools such as the icl command: feedback while a
// writer waits for another writer's label lock, a bound on that wait, the
// progress and gaps of a disk-usage walk, and a direct look at a label (the
// host name a controller writes, the label file's bytes, every access path
// line). Hosts need none of it, and nothing in ICLRoutines.h or
// IdxCacheDirInfo.h changes with it.
//
// Every setting is process-wide. A callback runs on the thread that waits or
// walks, on several threads at once if several do; it must not throw, and
// must not set or clear a callback itself. Once a setter returns, the
// callback it replaced is not running and is never called again. With no
// callback set, waits and walks cost what they cost without this header.

#include <stdint.h>

#include <string>

#include "ICLExport.h"

class ICLController;

// --- The writers' label lock ---------------------------------------------

// How long a writer (UpdateICL, RemoveAccessPathIDfromICL, WriteNewICL,
// CheckICL adding an access path) waits for the label lock held by another
// writer, and for another writer's claim ("icl_label.claim", where locks may
// not reach every writer), the two together: 30000 ms unless set; 0 tries once and does not wait; a
// negative value counts as 0. A writer that gives up fails with ICL_ERROR_FILE_LOCK and an Error
// line that names the limit. A new limit applies to the waits that start after the call.
ICL_API void ICLToolSetLabelLockWaitLimit(long long milliseconds);

// Called while a writer waits for the label lock or another writer's claim:
// after each refused attempt (the pauses grow to about 100 ms) with the
// milliseconds since the first one.
// Never called when the lock is free at once.
typedef void (*ICLLabelLockWaitCallback)(long long waitedMilliseconds, void* context);
// A null callback clears it.
ICL_API void ICLToolSetLabelLockWaitCallback(ICLLabelLockWaitCallback callback, void* context);

// Called, just before the callback above, while a writer waits for another
// writer's claim: `claimWriter` is the tag the claim holds as read from the
// file (any bytes; at most 128), `unchangedMilliseconds` how long this writer
// has seen that very claim stand unchanged. A claim that stands unchanged
// for 10 s (1 s while empty) is taken over as its writer's leftover.
typedef void (*ICLLabelClaimWaitCallback)(const char* claimWriter, long long unchangedMilliseconds,
                                          void* context);
// A null callback clears it.
ICL_API void ICLToolSetLabelClaimWaitCallback(ICLLabelClaimWaitCallback callback, void* context);

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

// --- A direct look at a label ----------------------------------------------
//
// For a tool that shows what a label holds beyond the identity the API
// answers, or tells whether an operation changed it. Nothing here writes,
// locks, or waits for a writer.

// The host name a controller made with `hostName` writes beside its access
// path: `hostName` (at most 255 characters of it), or, when it is null or
// empty, the platform's client name for this machine ("" if it has none).
ICL_API std::string ICLToolHostName(const char* hostName);

// The path of the label file in the index cache directory `dir`, with
// backslashes taken as separators, as a controller forms it. Looks at
// nothing on disk.
ICL_API std::string ICLToolLabelPath(const char* dir);

// What one read of the label file found.
enum ICLToolLabelRead {
  ICL_TOOL_LABEL_READ = 0,         // the file's bytes, all of them
  ICL_TOOL_LABEL_ABSENT = 1,       // no label: its open failed with ENOENT or ENOTDIR
  ICL_TOOL_LABEL_FAILED = 2,       // its open, fstat or read failed (the errno is given)
  ICL_TOOL_LABEL_NOT_REGULAR = 3,  // something other than a regular file stands there
  ICL_TOOL_LABEL_TOO_LARGE = 4,    // over 1 MiB, far above any label a reader loads
};

// Reads the label file of `dir` whole, as it stands at that moment, without
// ever blocking on what stands in its place (a FIFO). `bytes` is set with
// ICL_TOOL_LABEL_READ only, `error` with ICL_TOOL_LABEL_ABSENT and
// ICL_TOOL_LABEL_FAILED only (the errno of the call that failed).
ICL_API ICLToolLabelRead ICLToolReadLabel(const char* dir, std::string& bytes, int& error);

// One access path line, as a reader sees it. `idText` is the id in the
// line's normalised form (sanitizeString: no white space, nothing from '#'
// on). `plain` is 1 when the id stands exactly as "%d" writes it, the only
// form a controller ever matches, and `id` is then its value (0 otherwise).
// `host` is what follows the line's first '#', without leading and trailing
// spaces and tabs ("" without a '#').
typedef void (*ICLToolAccessPathCallback)(const char* idText, int plain, int32_t id,
                                          const char* host, void* context);

// Reads the label with `controller`, made for the index cache directory
// `dir` (ReadDataFromICL: GetICLData then gives its identity), loads it once
// more and calls `each` for every access path line in it, in order; the
// controller itself only ever looks for its own line. When that second load
// fails (another host replaced the label since the read, and this host's
// name for it may still lead to the old file), both are tried again, at
// most 4 times more, after pauses of 10 ms doubling to at most 40 ms.
// Returns 0; -1 when the read failed (GetICLError says why); or the load's
// TZUPIFileIOError code (ZUPIFileOpen.h) when the label could not be loaded
// again for its lines. An exception from `each` reaches the caller.
ICL_API int ICLToolReadAccessPaths(ICLController& controller, const char* dir,
                                   ICLToolAccessPathCallback each, void* context);

#endif
