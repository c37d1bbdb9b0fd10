#ifndef ICL_TEXTFILE_OPENMODE_H
#define ICL_TEXTFILE_OPENMODE_H

namespace icl {

// Translates an fopen mode ("rb", "r+b", "wt", ...) into open(2) flags as the
// C library does: the first character selects r, w or a; '+' makes it read
// and write; 'x' adds O_EXCL and 'e' O_CLOEXEC; other characters are ignored.
// Returns false (flags untouched) for a null mode or an unknown first letter.
bool openFlagsForMode(const char* mode, int& flags);

}  // namespace icl

#endif
