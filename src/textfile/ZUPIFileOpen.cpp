#include "ZUPIFileOpen.h"

#include <stdlib.h>
#include <string.h>

#include "LoadReport.h"
#include "sys/SysCalls.h"

namespace {

const size_t kModeCapacity = 9;  // characters, without the NUL
const char* const kDefaultMode = "rb";

bool isTerminator(char c) { return c == '\0' || c == '\r' || c == '\n'; }

}  // namespace

ZUPITextFileOpen::ZUPITextFileOpen(const char* path, const char* openMode, bool closeAfterLoad)
    : ZUPITextFileOpen(path, openMode, closeAfterLoad, nullptr) {}

ZUPITextFileOpen::ZUPITextFileOpen(const char* path, icl::LoadReport& report)
    : ZUPITextFileOpen(path, nullptr, true, &report) {}

ZUPITextFileOpen::ZUPITextFileOpen(const char* path, const char* openMode, bool closeAfterLoad,
                                   icl::LoadReport* report)
    : stream(-1),
      buffer(nullptr),
      fileLoaded(false),
      streamOpen(false),
      fileIOError(ZUPI_FILE_OK),
      readIndex(0),
      fileSize(-1),
      emptyLine{'\0'},
      mode{},
      maxFileSize(icl::kReaderSizeLimit),
      fileName(path != nullptr ? path : ""),
      modeTooLong(false) {
  const char* requested = openMode != nullptr ? openMode : kDefaultMode;
  if (strlen(requested) > kModeCapacity) {
    modeTooLong = true;
  } else {
    strcpy(mode, requested);
  }
  load(closeAfterLoad, report);
}

ZUPITextFileOpen::ZUPITextFileOpen(const ZUPITextFileOpen& source)
    : EvEvent(),
      stream(-1),
      buffer(nullptr),
      fileLoaded(source.fileLoaded),
      streamOpen(false),
      fileIOError(source.fileIOError),
      readIndex(0),
      fileSize(source.fileSize),
      emptyLine{'\0'},
      mode{},
      maxFileSize(icl::kReaderSizeLimit),
      fileName(source.fileName),
      modeTooLong(source.modeTooLong) {
  size_t modeLength = strnlen(source.mode, kModeCapacity);
  memcpy(mode, source.mode, modeLength);
  mode[modeLength] = '\0';
  if (fileLoaded) {
    size_t size = static_cast<size_t>(fileSize);
    buffer = static_cast<char*>(malloc(size + 1));
    if (buffer == nullptr) {
      fileLoaded = false;
    } else {
      memcpy(buffer, source.buffer, size);
      buffer[size] = '\0';
    }
  }
}

ZUPITextFileOpen::~ZUPITextFileOpen() {
  closeFile();
  free(buffer);
}

int ZUPITextFileOpen::setMaxFileSize(int maxSize) {
  maxFileSize = maxSize;
  return 0;
}

int ZUPITextFileOpen::reloadFile(bool closeAfterLoad) { return load(closeAfterLoad, nullptr); }

void ZUPITextFileOpen::closeFile() {
  if (fileLoaded && streamOpen) {
    // The text is already in memory; a failed close loses nothing.
    icl::sys::calls().close(stream);
    stream = -1;
  }
  streamOpen = false;
}

char ZUPITextFileOpen::getch() {
  if (isEof()) return 0;
  return buffer[readIndex++];
}

char* ZUPITextFileOpen::readln() {
  if (!fileLoaded || isEof()) return emptyLine;
  while (!isEof() && isTerminator(buffer[readIndex])) {
    buffer[readIndex] = '\0';
    ++readIndex;
  }
  int start = readIndex;
  while (!isEof()) {
    if (isTerminator(buffer[readIndex])) {
      buffer[readIndex] = '\0';
      break;
    }
    ++readIndex;
  }
  return buffer + start;
}

char* ZUPITextFileOpen::readNonCommentLine() {
  if (isEof()) return emptyLine;
  for (;;) {
    char* line = readln();
    const char* first = line;
    while (*first == ' ') ++first;
    if (*first != '#' || isEof()) return line;
  }
}

bool ZUPITextFileOpen::isEof() {
  return static_cast<int64_t>(readIndex) >= fileSize || !fileLoaded;
}

int ZUPITextFileOpen::getFileIOError() { return fileIOError; }

bool ZUPITextFileOpen::isFileOpen() { return fileLoaded; }

void ZUPITextFileOpen::MoveReadPtrToBeginning() { readIndex = 0; }
