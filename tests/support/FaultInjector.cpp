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
  c.open = wrapperFor<SysOp::Open, &sys::Calls::open>();
  c.openat = wrapperFor<SysOp::Openat, &sys::Calls::openat>();
  c.close = wrapperFor<SysOp::Close, &sys::Calls::close>();
  c.read = wrapperFor<SysOp::Read, &sys::Calls::read>();
  c.write = wrapperFor<SysOp::Write, &sys::Calls::write>();
  c.fsync = wrapperFor<SysOp::Fsync, &sys::Calls::fsync>();
  c.fstat = wrapperFor<SysOp::Fstat, &sys::Calls::fstat>();
  c.stat = wrapperFor<SysOp::Stat, &sys::Calls::stat>();
  c.lstat = wrapperFor<SysOp::Lstat, &sys::Calls::lstat>();
  c.fstatat = wrapperFor<SysOp::Fstatat, &sys::Calls::fstatat>();
  c.access = wrapperFor<SysOp::Access, &sys::Calls::access>();
  c.mkdir = wrapperFor<SysOp::Mkdir, &sys::Calls::mkdir>();
  c.rename = wrapperFor<SysOp::Rename, &sys::Calls::rename>();
  c.unlink = wrapperFor<SysOp::Unlink, &sys::Calls::unlink>();
  c.fchmod = wrapperFor<SysOp::Fchmod, &sys::Calls::fchmod>();
  c.fchown = wrapperFor<SysOp::Fchown, &sys::Calls::fchown>();
  c.fcntlLock = wrapperFor<SysOp::FcntlLock, &sys::Calls::fcntlLock>();
  c.getdents64 = wrapperFor<SysOp::Getdents64, &sys::Calls::getdents64>();
  c.ftruncate = wrapperFor<SysOp::Ftruncate, &sys::Calls::ftruncate>();
  c.statfs = wrapperFor<SysOp::Statfs, &sys::Calls::statfs>();
  c.getxattr = wrapperFor<SysOp::Getxattr, &sys::Calls::getxattr>();
}

}  // namespace

const char* sysOpName(SysOp op) {
  static const char* const kNames[] = {
      "open",  "openat", "close", "read",   "write",  "fsync", "fstat",
      "stat",  "lstat",  "fstatat", "access", "mkdir", "rename", "unlink",
      "fchmod", "fchown", "fcntl", "getdents64", "ftruncate", "statfs", "getxattr",
  };
  return kNames[static_cast<int>(op)];
}

FaultInjector::FaultInjector() {
  gActive = this;
  installWrappers();
}

FaultInjector::~FaultInjector() {
  sys::calls() = sys::realCalls();
  gActive = nullptr;
}

void FaultInjector::failNth(long n, int err, bool persistent, std::initializer_list<SysOp> ops) {
  std::lock_guard<std::mutex> lock(mutex_);
  plans_.push_back(Plan{n, err, persistent, std::set<SysOp>(ops), 0});
}

void FaultInjector::killAtNth(long n, std::initializer_list<SysOp> ops) {
  std::lock_guard<std::mutex> lock(mutex_);
  plans_.push_back(Plan{n, 0, false, std::set<SysOp>(ops), 0});
}

long FaultInjector::calls() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return static_cast<long>(trace_.size());
}

long FaultInjector::calls(SysOp op) const {
  std::lock_guard<std::mutex> lock(mutex_);
  return static_cast<long>(std::count(trace_.begin(), trace_.end(), op));
}

std::vector<SysOp> FaultInjector::trace() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return trace_;
}

void FaultInjector::reset() {
  std::lock_guard<std::mutex> lock(mutex_);
  trace_.clear();
  plans_.clear();
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
