#ifndef ICL_HOST_ZUPLATFORMINFO_H
#define ICL_HOST_ZUPLATFORMINFO_H

#include <string>

#include "HostExport.h"

// The process's current focus, as the platform names it.
class ZU_HOST_API ZUPI_Focus {
 public:
  static const char* getFocus();
};

// Platform information for one query: the client host name of this machine
// and integer settings from the product's configuration store.
class ZU_HOST_API ZUPlatformInfo {
 public:
  ZUPlatformInfo();
  ~ZUPlatformInfo();

  int setFocus(const char* focus);

  // The physical machine name (the system's host name); valid until this
  // object is destroyed.
  const char* getPhysicalMachine();

  // Writes the client host name of `machine` into `buffer` (at most size-1
  // characters and a NUL). Returns 0, or -1 when no name could be given, in
  // which case `buffer` holds the empty string (if size > 0).
  int getClientHostName(const char* machine, char* buffer, int size);

  // Non-zero when the setting `name` in `section` exists; *value then holds
  // it. Zero otherwise, and *value is left alone. Thread-safe.
  int getRegInt(const char* section, const char* name, int* value);

  // Fills the in-process settings store (a host program's configuration).
  // Thread-safe.
  static void setRegInt(const char* section, const char* name, int value);

  // Removes one setting, or every setting when both are null (tests).
  static void clearRegInt(const char* section, const char* name);

 private:
  std::string focus_;
  std::string machine_;
};

#endif
