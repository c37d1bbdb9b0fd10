#ifndef ICL_TESTS_FAULTINJECTOR_H
#define ICL_TESTS_FAULTINJECTOR_H

#include <functional>
#include <map>
#include <string>
#include <vector>

#include "sys/SysCallList.h"

namespace icl::test {

// The entries of the library's file-system seam: Open, Openat, Close, ...,
// one per row of ICL_SYS_CALLS (sys/SysCallList.h), named by its Id.
enum class SysOp {
#define ICL_SYS_OP(Id, member, text, Type, real) Id,
  ICL_SYS_CALLS(ICL_SYS_OP)
#undef ICL_SYS_OP
};

// The call's name: "open", "fcntl", ...
const char* sysOpName(SysOp op);

// A file as every run names it: a temporary file's unique part (after
// ".tmp-") left out.
std::string fileClass(const std::string& file);

// One call through the seam, as recorded: its operation and the file it
// worked on (the path it named, or the path its descriptor was opened with;
// "" where neither is known).
struct TracedCall {
  SysOp op;
  std::string file;
};

// A planned failure: the nth call (1-based) of `op` on a file whose class
// (fileClass) ends with `file` fails with `err`; with `persistent`, every
// later such call fails too.
struct Fault {
  SysOp op;
  long nth;
  int err;
  bool persistent = false;
  std::string file = "";
};

// While it lives, every call through the seam is counted and recorded, and
// the planned faults are injected; statfs and fstatfs answer
// `fileSystemType` (0x65735546: FUSE; 0: the real type) as the file system's
// type. On destruction the seam is the C library's again, whatever a test put
// there. One at a time per process, used from one thread. A test that
// replaces entries by hand does so after creating it, which installs its
// wrappers over every entry.
//
// A failed call returns -1 with the planned errno and does nothing, except a
// failed close, which really closes first (Linux frees the descriptor even
// when close reports an error).
class FaultInjector {
 public:
  explicit FaultInjector(const std::vector<Fault>& faults = {}, unsigned long fileSystemType = 0);
  ~FaultInjector();
  FaultInjector(const FaultInjector&) = delete;
  FaultInjector& operator=(const FaultInjector&) = delete;

  void fail(const Fault& fault) { plans_.push_back({fault, 0}); }
  // Kills the process with SIGKILL just before the n-th call, of any kind.
  void killAtNth(long n) { killAt_ = n; }
  // Runs `act` once, just before the first call of `op` on a file whose
  // class ends with `file`: another writer acting at that moment.
  void before(SysOp op, const std::string& file, std::function<void()> act) {
    acts_.push_back({{op, file}, std::move(act)});
  }

  long calls(SysOp op) const;
  const std::vector<TracedCall>& trace() const { return trace_; }

  // Used by the wrappers: true when this call is to fail, with *err set.
  bool intercept(SysOp op, const std::string& file, int* err);
  std::map<int, std::string> files;  // the path each descriptor was opened with
  const unsigned long fileSystemType;

 private:
  std::vector<std::pair<Fault, long>> plans_;  // and the matching calls seen
  std::vector<std::pair<TracedCall, std::function<void()>>> acts_;
  std::vector<TracedCall> trace_;
  long killAt_ = 0;
};

}  // namespace icl::test

#endif
