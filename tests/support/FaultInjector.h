#ifndef ICL_TESTS_FAULTINJECTOR_H
#define ICL_TESTS_FAULTINJECTOR_H

#include <functional>
#include <initializer_list>
#include <map>
#include <mutex>
#include <set>
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

// While it lives, every call through the seam is counted and recorded, and
// planned faults are injected; on destruction the seam is the C library's
// again, whatever a test put there. One at a time per process. A test that
// replaces entries by hand does so after creating it, which installs its
// wrappers over every entry.
//
// A failed call returns -1 with the planned errno and does nothing, except a
// failed close, which really closes first (Linux frees the descriptor even
// when close reports an error).
class FaultInjector {
 public:
  FaultInjector();
  ~FaultInjector();
  FaultInjector(const FaultInjector&) = delete;
  FaultInjector& operator=(const FaultInjector&) = delete;

  // Fails the n-th call (1-based) among the calls of `ops` (any op when
  // empty) on a file whose class (fileClass) ends with `file` with `err`;
  // with `persistent`, every later such call fails too.
  void failNth(long n, int err, bool persistent = false, std::initializer_list<SysOp> ops = {},
               const std::string& file = "");
  // Kills the process with SIGKILL just before the n-th call.
  void killAtNth(long n) { failNth(n, 0); }
  // Runs `act` once, just before the first call of `op` on a file whose
  // class ends with `file`: another writer acting at that moment.
  void before(SysOp op, const std::string& file, std::function<void()> act);
  // statfs and fstatfs answer `type` as the file system's type (0x65735546: FUSE).
  void fileSystemType(unsigned long type) { fileSystemType_ = type; }

  long calls(SysOp op) const;
  std::vector<TracedCall> trace() const;

  // Used by the wrappers: true when this call is to fail, with *err set.
  bool intercept(SysOp op, const std::string& file, int* err);
  void opened(int fd, const std::string& file);
  std::string fileOf(int fd) const;
  unsigned long fileSystemType() const { return fileSystemType_; }

 private:
  struct Plan {
    long nth;
    int err;  // 0: kill
    bool persistent;
    std::set<SysOp> ops;
    std::string file;
    long seen;
  };
  struct Act {
    SysOp op;
    std::string file;
    std::function<void()> act;
  };
  mutable std::mutex mutex_;
  std::vector<TracedCall> trace_;
  std::vector<Plan> plans_;
  std::vector<Act> acts_;
  std::map<int, std::string> files_;
  unsigned long fileSystemType_ = 0;
};

}  // namespace icl::test

#endif
