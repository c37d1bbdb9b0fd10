#include "FixPathProperty.h"

#include <string.h>

#include <memory>
#include <string>
#include <vector>

#include "EvEvent.h"
#include "Findings.h"
#include "ICLRoutines.h"
#include "Reference.h"
#include "Scratch.h"

namespace icl {
namespace fuzz {
namespace {

const int kPathNotAbsolute = 0x23000180;

// fixPath on an exact-size heap copy of `path`, so that writing past the
// caller's buffer is caught.
int runFixPath(ICLController& controller, const std::string& path, std::string& out) {
  std::unique_ptr<char[]> buffer(new char[path.size() + 1]);
  memcpy(buffer.get(), path.c_str(), path.size() + 1);
  int result = controller.fixPath(buffer.get());
  out = buffer.get();
  return result;
}

}  // namespace

std::string checkFixPath(const uint8_t* data, size_t size) {
  std::string path(reinterpret_cast<const char*>(data), size);
  path = path.substr(0, path.find('\0'));
  Findings f;
  CapturedLog log;
  ICLController controller("hostA", "/");
  log.clear();
  std::string out;
  const int result = runFixPath(controller, path, out);

  const bool absolute = !path.empty() && (path[0] == '/' || path[0] == '\\');
  if (!absolute) {
    f.equal("result for a relative path", result, kPathNotAbsolute);
    f.equal("a relative path", out, path);
    const std::string message = ("Path [" + path + "] must be absolute").substr(0, EV_MAX_MESSAGE);
    f.check(log.lines() == std::vector<LoggedLine>{{EV_LOG_ERROR, "fixPath", message}},
            "log lines for a relative path" + describeLines(log.lines()));
    return f.result(printable(path));
  }
  f.equal("result", result, 0);
  f.check(out.size() <= path.size(), "the canonical form is longer than the path");
  f.check(!out.empty() && out[0] == '/', "the canonical form does not start with '/'");
  f.check(out.find('\\') == std::string::npos, "the canonical form holds a backslash");
  f.check(out.find("//") == std::string::npos, "the canonical form holds \"//\"");
  f.check(out.find("/./") == std::string::npos, "the canonical form holds \"/./\"");
  f.check(out.find("/../") == std::string::npos, "the canonical form holds \"/../\"");
  f.equal("the canonical form", out, referenceFixPath(path));
  std::string again;
  f.equal("result of a second pass", runFixPath(controller, out, again), 0);
  f.equal("a second pass", again, out);
  f.check(log.lines().empty(), "log lines for an absolute path" + describeLines(log.lines()));
  return f.result(printable(path));
}

}  // namespace fuzz
}  // namespace icl
