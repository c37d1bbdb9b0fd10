// The host name a controller writes beside its access path, for tools that
// name it before the controller writes it.

#include <string.h>

#include <string>

#include "ICLToolSupport.h"
#include "ZUPlatformInfo.h"

namespace {

// The controller's host name field holds 255 characters and a NUL.
const size_t kHostNameSize = 256;

}  // namespace

std::string ICLToolHostName(const char* hostName) {
  if (hostName != nullptr && hostName[0] != '\0') {
    return std::string(hostName, strnlen(hostName, kHostNameSize - 1));
  }
  ZUPlatformInfo platform;
  platform.setFocus(ZUPI_Focus::getFocus());
  char name[kHostNameSize] = "";
  platform.getClientHostName(platform.getPhysicalMachine(), name, sizeof name);
  name[sizeof name - 1] = '\0';
  return name;
}
