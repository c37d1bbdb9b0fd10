#ifndef ICL_ICL_LABELNAMES_H
#define ICL_ICL_LABELNAMES_H

// Names of the files the library keeps in an index cache directory; their
// paths are formed by LabelDirectory.h.

namespace icl {

const char* const kLabelFileName = "icl_label.txt";
// Beside the label; its writers lock it. Never removed.
const char* const kLockFileName = "icl_label.lock";
// Beside the label while a writer changes it (WriterClaim.h).
const char* const kClaimFileName = "icl_label.claim";
// What the capability check's scratch files are named after (ScratchFile.h).
const char* const kScratchFileName = "test_rdwrite.txt";

}  // namespace icl

#endif
