#include "ZUPlatformInfo.h"

#include <limits.h>
#include <string.h>
#include <unistd.h>

#include <map>
#include <mutex>
#include <utility>

namespace {

struct Settings {
  std::mutex mutex;
  std::map<std::pair<std::string, std::string>, int> values;
};

Settings& settings() {
  static Settings* s = new Settings;  // never destroyed: may be read during exit
  return *s;
}

}  // namespace

const char* ZUPI_Focus::getFocus() { return "default"; }

ZUPlatformInfo::ZUPlatformInfo() = default;
ZUPlatformInfo::~ZUPlatformInfo() = default;

int ZUPlatformInfo::setFocus(const char* focus) {
  focus_ = focus != nullptr ? focus : "";
  return 0;
}

const char* ZUPlatformInfo::getPhysicalMachine() {
  char name[HOST_NAME_MAX + 1];
  if (gethostname(name, sizeof name) != 0) {
    machine_.clear();
  } else {
    name[HOST_NAME_MAX] = '\0';  // POSIX leaves a cut name unterminated
    machine_ = name;
  }
  return machine_.c_str();
}

int ZUPlatformInfo::getClientHostName(const char* machine, char* buffer, int size) {
  if (buffer == nullptr || size <= 0) return -1;
  buffer[0] = '\0';
  // This host is its own client: the client name is the machine name.
  if (machine == nullptr || machine[0] == '\0') return -1;
  size_t max = static_cast<size_t>(size) - 1;
  size_t len = strnlen(machine, max);
  memcpy(buffer, machine, len);
  buffer[len] = '\0';
  return 0;
}

int ZUPlatformInfo::getRegInt(const char* section, const char* name, int* value) {
  if (section == nullptr || name == nullptr || value == nullptr) return 0;
  Settings& s = settings();
  std::lock_guard<std::mutex> lock(s.mutex);
  auto it = s.values.find({section, name});
  if (it == s.values.end()) return 0;
  *value = it->second;
  return 1;
}

void ZUPlatformInfo::setRegInt(const char* section, const char* name, int value) {
  if (section == nullptr || name == nullptr) return;
  Settings& s = settings();
  std::lock_guard<std::mutex> lock(s.mutex);
  s.values[{section, name}] = value;
}

void ZUPlatformInfo::clearRegInt(const char* section, const char* name) {
  Settings& s = settings();
  std::lock_guard<std::mutex> lock(s.mutex);
  if (section == nullptr && name == nullptr) {
    s.values.clear();
  } else if (section != nullptr && name != nullptr) {
    s.values.erase({section, name});
  }
}
