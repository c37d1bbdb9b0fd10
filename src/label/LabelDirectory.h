#ifndef ICL_ICL_LABELDIRECTORY_H
#define ICL_ICL_LABELDIRECTORY_H

// An index cache directory and the files the library keeps in it. Every path
// of those files is formed here and nowhere else:
//
//   icl_label.txt            the label (LabelFormat.h)
//   icl_label.lock           its writers' lock (write/LabelLock.h), never removed
//   icl_label.claim          a writer's claim (write/WriterClaim.h)
//   icl_label.txt.tmp-...    writers' temporary files (write/NewLabelFile.h)
//   test_rdwrite.txt.<...>   capability checks' scratch files (capability/ScratchFile.h)

#include <string>

#include "label/LabelNames.h"

namespace icl {

class LabelDirectory {
 public:
  // The directory a caller names: backslashes become slashes, nothing else
  // is normalised. Null is the empty path.
  explicit LabelDirectory(const char* location);
  // The directory that holds `path` (the label, the lock file, ...).
  static LabelDirectory of(const std::string& path);

  const std::string& path() const { return path_; }
  // With exactly one slash at its end: the form the directory's failure
  // lines have always named.
  std::string slashed() const;
  std::string label() const { return file(kLabelFileName); }
  std::string lock() const { return file(kLockFileName); }
  std::string claim() const { return file(kClaimFileName); }
  // The name every scratch file of the capability check starts with.
  std::string scratch() const { return file(kScratchFileName); }

 private:
  explicit LabelDirectory(std::string path) : path_(std::move(path)) {}
  std::string file(const char* name) const;

  std::string path_;
};

}  // namespace icl

#endif
