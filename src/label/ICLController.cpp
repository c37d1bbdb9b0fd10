#include <stdarg.h>
#include <stdio.h>
#include <string.h>

#include "ICLRoutines.h"
#include "ZUPIFileOpen.h"
#include "ZUPlatformInfo.h"
#include "label/LabelOp.h"

namespace {

const char* const kConstructorFunction = "ICLController::ICLController";

// Copies `text` into `field` when it fits with its terminator. Otherwise the
// field stays empty and the caller learns why: a cut text could name another
// directory, so nothing is ever cut here.
bool copyWhole(char* field, size_t size, const char* text) {
  field[0] = '\0';
  if (text == nullptr) return false;
  size_t len = strnlen(text, size);
  if (len >= size) return false;
  memcpy(field, text, len + 1);
  return true;
}

}  // namespace

ICLController::ICLController(const char* host, const char* location, const char* aux1,
                             const char* aux2)
    : iclFile(nullptr) {
  if (!copyWhole(iclLocation, sizeof iclLocation, location)) {
    Error(kConstructorFunction,
          location == nullptr
              ? "Index cache location is null; it is treated as empty."
              : "Index cache location is longer than 255 characters; it is treated as empty.");
  }
  if (!copyWhole(auxText1, sizeof auxText1, aux1)) {
    Error(kConstructorFunction, aux1 == nullptr
                                    ? "Auxiliary text 1 is null; it is stored empty."
                                    : "Auxiliary text 1 is longer than 1023 characters; it is "
                                      "stored empty.");
  }
  if (!copyWhole(auxText2, sizeof auxText2, aux2)) {
    Error(kConstructorFunction, aux2 == nullptr
                                    ? "Auxiliary text 2 is null; it is stored empty."
                                    : "Auxiliary text 2 is longer than 2047 characters; it is "
                                      "stored empty.");
  }
  Init(host);
}

ICLController::ICLController(const char* host, const char* location)
    : ICLController(host, location, "", "") {}

ICLController::~ICLController() {
  delete iclFile;
  iclFile = nullptr;
}

void ICLController::Init(const char* host) {
  iclData = ICLData{0, 0, 0, 0};
  // Init is public: a reader loaded before a second Init must not leak.
  delete iclFile;
  iclFile = nullptr;
  iclError = ICL_ERROR_NONE;
  iclPath.clear();

  hostName[0] = '\0';
  if (host != nullptr) {
    size_t len = strnlen(host, sizeof hostName - 1);
    memcpy(hostName, host, len);
    hostName[len] = '\0';
  }
  if (host == nullptr || host[0] == '\0') {
    ZUPlatformInfo platform;
    const char* focus = ZUPI_Focus::getFocus();
    platform.setFocus(focus);
    const char* machine = platform.getPhysicalMachine();
    platform.getClientHostName(machine, hostName, sizeof hostName);
    hostName[sizeof hostName - 1] = '\0';
  }
  description = nullptr;
}

int ICLController::SetICLData(ICLData data) {
  iclData = data;
  return 0;
}

int ICLController::GetICLData(ICLData& data) {
  data = iclData;
  return 0;
}

int ICLController::convertICLErrorToEvEventCode(TICLError error) {
  static const int kEventCodes[] = {
      0,           // ICL_ERROR_NONE
      0x2300017F,  // ICL_ERROR_RESERVED_1
      0x23000235,  // ICL_ERROR_RESERVED_2
      0x23000180,  // ICL_ERROR_PATH_NOT_FOUND
      0x23000180,  // ICL_ERROR_EMPTY_PATH
      0x23000236,  // ICL_ERROR_FILE_NOT_FOUND
      0x23000235,  // ICL_ERROR_FILE_READ
      0x23000237,  // ICL_ERROR_FILE_INVALID
      0x23000238,  // ICL_ERROR_MISMATCH
      0x23000235,  // ICL_ERROR_OUT_OF_MEMORY
      0x23000239,  // ICL_ERROR_FILE_WRITE
      0x2300023A,  // ICL_ERROR_NEW_LABEL_NOT_ALLOWED
      0x23000260,  // ICL_ERROR_FILE_LOCK
      0x23000261,  // ICL_ERROR_LOCK_NOT_SUPPORTED
      0x23000261,  // ICL_ERROR_CHMOD
      15,          // ICL_ERROR_CHOWN: the number itself, as the product expects
  };
  int32_t index = static_cast<int32_t>(error);
  if (index < 0 || index >= static_cast<int32_t>(sizeof kEventCodes / sizeof kEventCodes[0])) {
    return -1;
  }
  return kEventCodes[index];
}

namespace icl {

int failWith(LabelOp& op, TICLError error, EvLogLevel level, const char* function,
             const char* format, ...) {
  // Formed here as a log call forms it, cut to the same length.
  char message[EV_MAX_MESSAGE + 1];
  va_list args;
  va_start(args, format);
  if (vsnprintf(message, sizeof message, format, args) < 0) message[0] = '\0';
  va_end(args);
  op.error = error;
  (op.self.*(level == EV_LOG_ERROR ? &EvDebug::Error : &EvDebug::Debug))(function, "%s", message);
  return -1;
}

}  // namespace icl
