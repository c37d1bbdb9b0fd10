#include "FaultInjector.h"

#include <errno.h>
#include <signal.h>
#include <sys/statfs.h>

#include <algorithm>
#include <tuple>
#include <type_traits>
#include <utility>

#include "sys/SysCalls.h"

namespace icl::test {
namespace {

FaultInjector* gActive = nullptr;

// The file a call works on: its first path argument, else the path its
// first argument, a descriptor, was opened with.
template <typename T>
const char* pathOf(T arg) {
  if constexpr (std::is_same_v<T, const char*>) return arg;
  return nullptr;
}
template <typename First, typename... Rest>
std::string fileOfCall(First first, Rest... rest) {
  for (const char* path : {pathOf(first), pathOf(rest)...})
    if (path != nullptr) return path;
  if constexpr (std::is_same_v<First, int>) return gActive->files[first];
  return "";
}

// The seam's entry of type R(A...), wrapped: the call recorded, and failed where planned.
template <typename Fn>
struct Wrapper;

template <typename R, typename... A>
struct Wrapper<R(A...)> {
  template <SysOp Op, R (*sys::Calls::*Member)(A...)>
  static R call(A... args) {
    int err = 0;
    if (gActive == nullptr) return (sys::realCalls().*Member)(args...);
    const std::string file = fileOfCall(args...);
    if (gActive->intercept(Op, file, &err)) {
      if (Op == SysOp::Close) (sys::realCalls().*Member)(args...);
      errno = err;
      return static_cast<R>(-1);
    }
    const R result = (sys::realCalls().*Member)(args...);
    const int saved = errno;
    if ((Op == SysOp::Open || Op == SysOp::Openat) && result >= 0)
      gActive->files[static_cast<int>(result)] = file;
    if constexpr (Op == SysOp::Statfs || Op == SysOp::Fstatfs) {
      if (result == 0 && gActive->fileSystemType != 0)
        std::get<1>(std::make_tuple(args...))->f_type = gActive->fileSystemType;
    }
    errno = saved;
    return result;
  }
};

bool endsWith(const std::string& text, const std::string& end) {
  return text.size() >= end.size() && text.compare(text.size() - end.size(), end.size(), end) == 0;
}

}  // namespace

std::string fileClass(const std::string& file) {
  const size_t unique = file.find(".tmp-");
  return unique == std::string::npos ? file : file.substr(0, unique + 5);
}

const char* sysOpName(SysOp op) {
  switch (op) {
#define ICL_SYS_NAME(Id, member, text, Type, real) \
  case SysOp::Id:                                  \
    return text;
    ICL_SYS_CALLS(ICL_SYS_NAME)
#undef ICL_SYS_NAME
  }
  return "?";
}

FaultInjector::FaultInjector(const std::vector<Fault>& faults, unsigned long type)
    : fileSystemType(type) {
  for (const Fault& fault : faults) fail(fault);
  gActive = this;
#define ICL_SYS_WRAP(Id, member, text, Type, real) \
  sys::calls().member = Wrapper<Type>::call<SysOp::Id, &sys::Calls::member>;
  ICL_SYS_CALLS(ICL_SYS_WRAP)
#undef ICL_SYS_WRAP
}

FaultInjector::~FaultInjector() {
  sys::calls() = sys::realCalls();
  gActive = nullptr;
}

long FaultInjector::calls(SysOp op) const {
  return static_cast<long>(std::count_if(trace_.begin(), trace_.end(),
                                         [op](const TracedCall& call) { return call.op == op; }));
}

bool FaultInjector::intercept(SysOp op, const std::string& file, int* err) {
  for (auto& due : acts_) {
    if (due.second && due.first.op == op && endsWith(fileClass(file), due.first.file)) {
      const std::function<void()> act = std::move(due.second);
      due.second = nullptr;
      act();  // it may plan acts of its own, and make calls
      break;
    }
  }
  trace_.push_back(TracedCall{op, file});
  if (static_cast<long>(trace_.size()) == killAt_) raise(SIGKILL);
  bool fail = false;
  for (auto& [plan, seen] : plans_) {
    if (plan.op != op || !endsWith(fileClass(file), plan.file)) continue;
    if (++seen == plan.nth || (plan.persistent && seen > plan.nth)) {
      if (!fail) *err = plan.err;
      fail = true;
    }
  }
  return fail;
}

}  // namespace icl::test
