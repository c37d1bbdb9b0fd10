#ifndef ICL_FUZZ_PROPERTIES_SCRATCH_H
#define ICL_FUZZ_PROPERTIES_SCRATCH_H

// What the properties need around the library: a private directory for the
// files they hand it, and a capture of its log lines (so that a run of
// millions of inputs neither floods standard error nor goes unchecked).

#include <stddef.h>
#include <stdint.h>

#include <string>
#include <vector>

#include "EvEvent.h"

namespace icl {
namespace fuzz {

// A directory of this process's own, made on first use under $TMPDIR (or
// /tmp) and removed with its files when the process exits normally. Empty
// when it could not be made.
const std::string& scratchDirectory();

// scratchDirectory() + "/" + name.
std::string scratchPath(const std::string& name);

// Creates or truncates the file and writes `bytes`. "" on success, else a
// description of what failed.
std::string writeScratchFile(const std::string& name, const std::string& bytes);

// The file's bytes; false when it cannot be read (missing, say).
bool readScratchFile(const std::string& name, std::string& bytes);

bool scratchFileExists(const std::string& name);

struct LoggedLine {
  EvLogLevel level;
  std::string function;
  std::string message;
  bool operator==(const LoggedLine& other) const {
    return level == other.level && function == other.function && message == other.message;
  }
};

// Every line logged while it lives; the default sink is back afterwards.
class CapturedLog {
 public:
  CapturedLog();
  ~CapturedLog();
  CapturedLog(const CapturedLog&) = delete;
  CapturedLog& operator=(const CapturedLog&) = delete;
  const std::vector<LoggedLine>& lines() const { return lines_; }
  void clear() { lines_.clear(); }

 private:
  static void sink(EvLogLevel level, const char* function, const char* message, void* context);
  std::vector<LoggedLine> lines_;
};

// The lines, one per line of text, for a message.
std::string describeLines(const std::vector<LoggedLine>& lines);

// A deterministic hash of the input, from which the properties draw their
// choices (identity, host name, where keys are spliced in), so that a saved
// input replays exactly.
uint64_t inputHash(const uint8_t* data, size_t size);

// Independent choices drawn from an input's hash, one after the other.
class InputDraws {
 public:
  InputDraws(const uint8_t* data, size_t size) : state_(inputHash(data, size)) {}
  // A value in [0, bound); bound must be at least 1.
  uint64_t below(uint64_t bound) { return next() % bound; }
  bool oneIn(uint64_t n) { return below(n) == 0; }

 private:
  uint64_t next();
  uint64_t state_;
};

}  // namespace fuzz
}  // namespace icl

#endif
