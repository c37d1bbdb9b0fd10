#include "FaultInjector.h"

#include <errno.h>
#include <signal.h>

#include <algorithm>
#include <type_traits>
#include <utility>

#include "sys/SysCalls.h"

namespace icl {
namespace test {
namespace {

FaultInjector* gActive = nullptr;

template <typename Fn>
struct Wrapper;

template <typename R, typename... A>
struct Wrapper<R (*)(A...)> {
  template <SysOp Op, R (*sys::Calls::*Member)(A...)>
  static R call(A... args) {
    int err = 0;
    if (gActive != nullptr && gActive->intercept(Op, &err)) {
      if (Op == SysOp::Close) (sys::realCalls().*Member)(args...);
      errno = err;
      return static_cast<R>(-1);
    }
    return (sys::realCalls().*Member)(args...);
  }
};

template <SysOp Op, auto Member>
auto wrapperFor() {
  using Fn = std::remove_reference_t<decltype(std::declval<sys::Calls&>().*Member)>;
  return &Wrapper<Fn>::template call<Op, Member>;
}

void installWrappers() {
  sys::Calls& c = sys::calls();
#define ICL_SYS_WRAP(Id, member, text, Type, real) \
  c.member = wrapperFor<SysOp::Id, &sys::Calls::member>();
  ICL_SYS_CALLS(ICL_SYS_WRAP)
#undef ICL_SYS_WRAP
}

}  // namespace

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

FaultInjector::FaultInjector() {
  gActive = this;
  installWrappers();
}

FaultInjector::~FaultInjector() {
  sys::calls() = sys::realCalls();
  gActive = nullptr;
}

RealCallsOnExit::~RealCallsOnExit() { sys::calls() = sys::realCalls(); }

void FaultInjector::failNth(long n, int err, bool persistent, std::initializer_list<SysOp> ops) {
  std::lock_guard<std::mutex> lock(mutex_);
  plans_.push_back(Plan{n, err, persistent, std::set<SysOp>(ops), 0});
}

void FaultInjector::killAtNth(long n) { failNth(n, 0); }

long FaultInjector::calls(SysOp op) const {
  std::lock_guard<std::mutex> lock(mutex_);
  return static_cast<long>(std::count(trace_.begin(), trace_.end(), op));
}

std::vector<SysOp> FaultInjector::trace() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return trace_;
}

bool FaultInjector::intercept(SysOp op, int* err) {
  std::lock_guard<std::mutex> lock(mutex_);
  trace_.push_back(op);
  bool fail = false;
  for (Plan& plan : plans_) {
    if (!plan.ops.empty() && plan.ops.count(op) == 0) continue;
    ++plan.seen;
    if (plan.seen == plan.nth || (plan.persistent && plan.seen > plan.nth)) {
      if (plan.err == 0) raise(SIGKILL);
      if (!fail) *err = plan.err;
      fail = true;
    }
  }
  return fail;
}

}  // namespace test
}  // namespace icl
