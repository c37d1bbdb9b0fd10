#include "Unprivileged.h"

#include <grp.h>
#include <sys/wait.h>
#include <unistd.h>

namespace icl {
namespace test {

int runInChild(const std::function<int()>& body) {
  pid_t pid = fork();
  if (pid < 0) return -1;
  if (pid == 0) {
    int rc = 255;
    try {
      rc = body();
    } catch (...) {
      rc = 255;
    }
    _exit(rc & 0xFF);
  }
  int status = 0;
  while (waitpid(pid, &status, 0) < 0) {
  }
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

int runUnprivileged(const std::function<int()>& body) {
  return runInChild([&body]() -> int {
    if (geteuid() == 0) {
      const gid_t nobodyGroup = 65534;
      const uid_t nobodyUser = 65534;
      if (setgroups(0, nullptr) != 0 || setresgid(nobodyGroup, nobodyGroup, nobodyGroup) != 0 ||
          setresuid(nobodyUser, nobodyUser, nobodyUser) != 0) {
        return 254;
      }
    }
    return body();
  });
}

}  // namespace test
}  // namespace icl
