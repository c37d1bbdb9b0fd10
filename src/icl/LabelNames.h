#ifndef ICL_ICL_LABELNAMES_H
#define ICL_ICL_LABELNAMES_H

// Names of the files the library keeps in an index cache directory.

namespace icl {

const char* const kLabelFileName = "icl_label.txt";
// Beside the label; its writers lock it. Never removed.
const char* const kLockFileName = "icl_label.lock";

}  // namespace icl

#endif
