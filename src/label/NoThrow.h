#ifndef ICL_ICL_NOTHROW_H
#define ICL_ICL_NOTHROW_H

// How the label operations keep their promise to throw nothing.
//
// Two things can throw inside them: memory running out (std::bad_alloc),
// and the host's log sink, which may throw to stop an operation at a line.
// Either ends the operation there; the locks and files it held are released
// on the way out (RAII), so the label on disk is the old or the new one.

#include <new>

#include "ICLRoutines.h"

namespace icl {

// Answers `body()`; an exception instead answers -1 with `error` set to
// ICL_ERROR_OUT_OF_MEMORY for bad_alloc, else left as the operation set it,
// or `otherwise` when it had set nothing.
template <typename Body>
int answerWithoutThrowing(TICLError& error, TICLError otherwise, Body body) noexcept {
  try {
    return body();
  } catch (const std::bad_alloc&) {
    error = ICL_ERROR_OUT_OF_MEMORY;
  } catch (...) {
    if (error == ICL_ERROR_NONE) error = otherwise;
  }
  return -1;
}

}  // namespace icl

#endif
