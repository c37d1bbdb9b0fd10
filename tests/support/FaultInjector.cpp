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
template <typename First, typename... Rest>
std::string fileOfCall(First first, Rest... rest) {
  std::string file;
  auto take = [&file](auto arg) {
    if constexpr (std::is_same_v<decltype(arg), const char*>) {
      if (file.empty() && arg != nullptr) file = arg;
    }
  };
  take(first);
  (take(rest), ...);
  if constexpr (std::is_same_v<First, int>) {
    if (file.empty()) file = gActive->fileOf(first);
  }
  return file;
}

template <typename Fn>
struct Wrapper;

template <typename R, typename... A>
struct Wrapper<R (*)(A...)> {
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
      gActive->opened(static_cast<int>(result), file);
    if constexpr (Op == SysOp::Statfs || Op == SysOp::Fstatfs) {
      if (result == 0 && gActive->fileSystemType() != 0) {
        std::get<1>(std::make_tuple(args...))->f_type =
            static_cast<__fsword_t>(gActive->fileSystemType());
      }
    }
    errno = saved;
    return result;
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

FaultInjector::FaultInjector() {
  gActive = this;
  installWrappers();
}

FaultInjector::~FaultInjector() {
  sys::calls() = sys::realCalls();
  gActive = nullptr;
}

void FaultInjector::failNth(long n, int err, bool persistent, std::initializer_list<SysOp> ops,
                            const std::string& file) {
  std::lock_guard<std::mutex> lock(mutex_);
  plans_.push_back(Plan{n, err, persistent, std::set<SysOp>(ops), file, 0});
}

void FaultInjector::before(SysOp op, const std::string& file, std::function<void()> act) {
  std::lock_guard<std::mutex> lock(mutex_);
  acts_.push_back(Act{op, file, std::move(act)});
}

void FaultInjector::opened(int fd, const std::string& file) {
  std::lock_guard<std::mutex> lock(mutex_);
  files_[fd] = file;
}

std::string FaultInjector::fileOf(int fd) const {
  std::lock_guard<std::mutex> lock(mutex_);
  const auto found = files_.find(fd);
  return found == files_.end() ? "" : found->second;
}

long FaultInjector::calls(SysOp op) const {
  std::lock_guard<std::mutex> lock(mutex_);
  return static_cast<long>(std::count_if(trace_.begin(), trace_.end(),
                                         [op](const TracedCall& call) { return call.op == op; }));
}

std::vector<TracedCall> FaultInjector::trace() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return trace_;
}

bool FaultInjector::intercept(SysOp op, const std::string& file, int* err) {
  std::function<void()> act;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    for (Act& due : acts_) {
      if (due.act && due.op == op && endsWith(fileClass(file), due.file)) {
        act = std::move(due.act);
        due.act = nullptr;
        break;
      }
    }
  }
  if (act) act();  // outside the lock: it may make calls of its own
  std::lock_guard<std::mutex> lock(mutex_);
  trace_.push_back(TracedCall{op, file});
  bool fail = false;
  for (Plan& plan : plans_) {
    if (!plan.ops.empty() && plan.ops.count(op) == 0) continue;
    if (!endsWith(fileClass(file), plan.file)) continue;
    ++plan.seen;
    if (plan.seen == plan.nth || (plan.persistent && plan.seen > plan.nth)) {
      if (plan.err == 0) raise(SIGKILL);
      if (!fail) *err = plan.err;
      fail = true;
    }
  }
  return fail;
}

}  // namespace icl::test
