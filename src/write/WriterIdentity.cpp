#include "write/WriterIdentity.h"

#include <errno.h>
#include <fcntl.h>
#include <pthread.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/random.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <atomic>
#include <cctype>
#include <cstdio>

#include "sys/FileIo.h"
#include "sys/SysCalls.h"

namespace icl {
namespace {

const size_t kIdLength = 32;

std::string hexOf(const unsigned char* bytes, size_t count) {
  static const char kDigits[] = "0123456789abcdef";
  std::string hex;
  for (size_t i = 0; i < count; ++i) {
    hex.push_back(kDigits[bytes[i] >> 4]);
    hex.push_back(kDigits[bytes[i] & 15]);
  }
  return hex;
}

// The kernel's boot id without its dashes; "" when it cannot be read.
std::string readBootId() {
  sys::UniqueFd fd(sys::openRetry("/proc/sys/kernel/random/boot_id", O_RDONLY | O_CLOEXEC));
  char text[64] = {};
  if (!fd.valid() || sys::readOnce(fd.get(), text, sizeof text - 1) < 0) return "";
  std::string id;
  for (const char* c = text; *c != '\0' && *c != '\n'; ++c) {
    if (isxdigit(static_cast<unsigned char>(*c))) id.push_back(static_cast<char>(tolower(*c)));
  }
  return id.size() == kIdLength ? id : "";
}

std::string randomId() {
  unsigned char bytes[kIdLength / 2] = {};
  if (getrandom(bytes, sizeof bytes, GRND_NONBLOCK) != static_cast<ssize_t>(sizeof bytes)) {
    // No entropy yet: the time and the process still make it unlikely to repeat.
    const long seed = static_cast<long>(time(nullptr)) ^ (static_cast<long>(getpid()) << 16);
    for (size_t i = 0; i < sizeof bytes; ++i)
      bytes[i] = static_cast<unsigned char>(seed >> (i % 8 * 8));
  }
  return hexOf(bytes, sizeof bytes);
}

// The number of this process's process-id namespace; "" when unknown.
std::string pidNamespace() {
  struct stat st;
  if (sys::calls().stat("/proc/self/ns/pid", &st) != 0) return "";
  return std::to_string(static_cast<unsigned long>(st.st_ino));
}

}  // namespace

const std::string& processSpaceId() {
  static const std::string id = [] {
    const std::string boot = readBootId();
    const std::string space = pidNamespace();
    return boot.empty() || space.empty() ? randomId() : boot + "n" + space;
  }();
  return id;
}

pid_t thisProcess() {
  static std::atomic<pid_t> cached{0};
  static std::atomic<int> forkHandler{0};
  runOnce(forkHandler, [] { pthread_atfork(nullptr, nullptr, [] { cached.store(0); }); });
  pid_t pid = cached.load();
  if (pid == 0) {
    pid = getpid();
    cached.store(pid);
  }
  return pid;
}

std::string writerTag() {
  char pid[16];
  snprintf(pid, sizeof pid, "-%010ld", static_cast<long>(thisProcess()));
  return processSpaceId() + pid;
}

std::string uniqueTag() {
  static std::atomic<unsigned long> sequence{0};
  char n[24];
  snprintf(n, sizeof n, "-%010lu", sequence.fetch_add(1) % 10000000000UL);
  return writerTag() + n;
}

bool tagOfThisProcess(const std::string& tag) {
  const std::string own = writerTag();
  return tag.compare(0, own.size(), own) == 0 &&
         (tag.size() == own.size() || tag[own.size()] == '-');
}

bool tagOfDeadLocalWriter(const std::string& tag) {
  const std::string& boot = processSpaceId();
  if (tag.size() <= boot.size() + 1 || tag.compare(0, boot.size(), boot) != 0 ||
      tag[boot.size()] != '-') {
    return false;
  }
  char* end = nullptr;
  errno = 0;
  const long pid = strtol(tag.c_str() + boot.size() + 1, &end, 10);
  if (errno != 0 || pid <= 0 || end == nullptr || (*end != '\0' && *end != '-')) return false;
  return kill(static_cast<pid_t>(pid), 0) != 0 && errno == ESRCH;
}

}  // namespace icl
