#ifndef ICL_HOST_EVEVENT_H
#define ICL_HOST_EVEVENT_H

#include "HostExport.h"

// Logging of the product's event system, as the library relies on it.
//
// Every log call carries a level, the calling function's fixed name and a
// printf-style message. The message is formatted into a bounded buffer (a
// longer one is cut, never overflows) and handed to the current sink.

enum EvLogLevel { EV_LOG_DEBUG, EV_LOG_ERROR };

typedef void (*EvLogSink)(EvLogLevel level, const char* function, const char* message,
                          void* context);

// Replaces the process-wide sink. A null sink restores the default, which
// writes Error lines to standard error (time, pid, function, message) and
// drops Debug lines. Safe while other threads log: once this returns, the
// previous sink is no longer running and will not be called again. A sink
// must not call EvSetLogSink itself.
ZU_HOST_API void EvSetLogSink(EvLogSink sink, void* context);

// Longest message handed to a sink, without its terminating NUL.
enum { EV_MAX_MESSAGE = 4095 };

class ZU_HOST_API EvDebug {
 public:
  // Both return the number of characters handed to the sink (after a cut).
  int Debug(const char* function, const char* format, ...) __attribute__((format(printf, 3, 4)));
  int Error(const char* function, const char* format, ...) __attribute__((format(printf, 3, 4)));
};

class ZU_HOST_API EvEvent : public EvDebug {
 public:
  EvEvent() = default;
  ~EvEvent() = default;
};

#endif
