#ifndef ICL_LABEL_LABELOP_H
#define ICL_LABEL_LABELOP_H

// One operation on one controller's label, and the steps every operation
// shares: forming the label's path, loading the label, reading its identity.
//
// The controller's fields stay filled as callers of the API know them (the
// label's path, the identity, the error, the reader holding the label as
// last loaded), but the steps take what they work on as arguments and hand
// their results back as values: a LoadReport is the label as loaded.

#include <string>

#include "EvEvent.h"
#include "ICLRoutines.h"
#include "textfile/LoadReport.h"

namespace icl {

struct LabelOp {
  ICLController& self;  // logs, and answers the public questions
  const char* location;
  std::string& labelPath;
  ICLData& identity;  // the caller's: what the label is expected to say
  TICLError& error;
  ZUPITextFileOpen*& reader;  // the label as last loaded
  const char* host;
  const char* description;
};

// How an operation fails: sets the error, writes one line at `level` from
// `function`, and answers -1.
int failWith(LabelOp& op, TICLError error, EvLogLevel level, const char* function,
             const char* format, ...) __attribute__((format(printf, 5, 6)));

// Forms the path, loads the label into a new reader (op.reader) and reads
// its identity into `found`. `loaded` is what the load saw (LoadReport.h).
// A missing label's line is logged at `absentLevel`: Debug where a new label
// is the caller's remedy, so that a success logs no Error.
int readLabel(LabelOp& op, ICLData& found, LoadReport& loaded,
              EvLogLevel absentLevel = EV_LOG_ERROR);
// The last load failed only because the label exceeds the reader's limit.
bool labelRefusedForItsSize(const LabelOp& op);

// Whether pool and cache (and the marker, when asked) of `found` are those
// `expected`; each difference is logged at `level` as `function`.
bool sameIdentity(EvDebug& log, const ICLData& expected, const ICLData& found, bool compareMarker,
                  EvLogLevel level, const char* function);

}  // namespace icl

// The one way in to a controller's fields, for the library's own steps.
struct ICLControllerAccess {
  static icl::LabelOp op(ICLController& c) {
    return {c,          c.iclLocation, c.iclPath,  c.iclData,
            c.iclError, c.iclFile,     c.hostName, c.description};
  }
};

#endif
