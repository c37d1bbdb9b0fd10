#ifndef ICL_TESTS_FAULTINJECTOR_H
#define ICL_TESTS_FAULTINJECTOR_H

#include <initializer_list>
#include <mutex>
#include <set>
#include <vector>

#include "sys/SysCallList.h"

namespace icl {
namespace test {

// The entries of the library's file-system seam: Open, Openat, Close, ...,
// one per row of ICL_SYS_CALLS (sys/SysCallList.h), named by its Id.
enum class SysOp {
#define ICL_SYS_OP(Id, member, text, Type, real) Id,
  ICL_SYS_CALLS(ICL_SYS_OP)
#undef ICL_SYS_OP
};

// The call's name: "open", "fcntl", ...
const char* sysOpName(SysOp op);

// While it lives, every call through the seam is counted and recorded, and
// planned faults are injected. One at a time per process.
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
  // empty) with `err`; with `persistent`, every later such call fails too.
  void failNth(long n, int err, bool persistent = false, std::initializer_list<SysOp> ops = {});
  // Kills the process with SIGKILL just before the n-th call.
  void killAtNth(long n);

  long calls(SysOp op) const;
  std::vector<SysOp> trace() const;

  // Used by the wrappers: true when this call is to fail, with *err set.
  bool intercept(SysOp op, int* err);

 private:
  struct Plan {
    long nth;
    int err;  // 0: kill
    bool persistent;
    std::set<SysOp> ops;
    long seen;
  };
  mutable std::mutex mutex_;
  std::vector<SysOp> trace_;
  std::vector<Plan> plans_;
};

// Puts the seam's real calls back when it goes, so that a test which
// replaces entries by hand leaves none behind, however it ends.
struct RealCallsOnExit {
  ~RealCallsOnExit();
};

}  // namespace test
}  // namespace icl

#endif
