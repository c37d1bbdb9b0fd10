#include "EvEvent.h"

#include <stdarg.h>
#include <stdio.h>
#include <time.h>
#include <unistd.h>

#include <mutex>
#include <shared_mutex>

namespace {

struct SinkState {
  std::shared_mutex mutex;  // loggers share it; EvSetLogSink takes it alone
  EvLogSink sink = nullptr;
  void* context = nullptr;
};

SinkState& sinkState() {
  static SinkState* state = new SinkState;  // never destroyed: logging may run during exit
  return *state;
}

void writeDefault(EvLogLevel level, const char* function, const char* message) {
  if (level != EV_LOG_ERROR) return;
  struct timespec now;
  struct tm utc;
  char stamp[32] = "?";
  if (clock_gettime(CLOCK_REALTIME, &now) == 0 && gmtime_r(&now.tv_sec, &utc) != nullptr) {
    strftime(stamp, sizeof stamp, "%Y-%m-%dT%H:%M:%SZ", &utc);
  }
  // One write per line, so lines of concurrent loggers do not interleave.
  char line[EV_MAX_MESSAGE + 512];
  int n = snprintf(line, sizeof line, "%s %ld %s: %s\n", stamp, static_cast<long>(getpid()),
                   function ? function : "", message);
  if (n < 0) return;
  size_t len = static_cast<size_t>(n) < sizeof line ? static_cast<size_t>(n) : sizeof line - 1;
  if (len > 0 && line[len - 1] != '\n') line[len - 1] = '\n';
  ssize_t ignored = write(STDERR_FILENO, line, len);
  (void)ignored;
}

int emit(EvLogLevel level, const char* function, const char* format, va_list args)
    __attribute__((format(printf, 3, 0)));

int emit(EvLogLevel level, const char* function, const char* format, va_list args) {
  char message[EV_MAX_MESSAGE + 1];
  int n = format != nullptr ? vsnprintf(message, sizeof message, format, args) : -1;
  if (n < 0) {
    message[0] = '\0';
    n = 0;
  } else if (n > EV_MAX_MESSAGE) {
    n = EV_MAX_MESSAGE;  // cut: vsnprintf already terminated it
  }
  SinkState& state = sinkState();
  std::shared_lock<std::shared_mutex> lock(state.mutex);
  if (state.sink != nullptr) {
    state.sink(level, function ? function : "", message, state.context);
  } else {
    writeDefault(level, function, message);
  }
  return n;
}

}  // namespace

void EvSetLogSink(EvLogSink sink, void* context) {
  SinkState& state = sinkState();
  std::unique_lock<std::shared_mutex> lock(state.mutex);
  state.sink = sink;
  state.context = sink != nullptr ? context : nullptr;
}

int EvDebug::Debug(const char* function, const char* format, ...) {
  va_list args;
  va_start(args, format);
  int n = emit(EV_LOG_DEBUG, function, format, args);
  va_end(args);
  return n;
}

int EvDebug::Error(const char* function, const char* format, ...) {
  va_list args;
  va_start(args, format);
  int n = emit(EV_LOG_ERROR, function, format, args);
  va_end(args);
  return n;
}
