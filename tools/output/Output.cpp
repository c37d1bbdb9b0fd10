#include "Output.h"

#include <errno.h>
#include <stdio.h>
#include <string.h>

#include "Text.h"

namespace icl {
namespace tool {
namespace {

int gFirstError = 0;  // the errno of the first failed write of a result

void remember(int err) {
  if (gFirstError == 0) gFirstError = err != 0 ? err : EIO;
}

}  // namespace

void write(Stream stream, const std::string& text) {
  FILE* file = stream == Stream::Out ? stdout : stderr;
  if (fwrite(text.data(), 1, text.size(), file) != text.size()) remember(errno);
}

void writeLine(Stream stream, const std::string& text) { write(stream, printable(text) + "\n"); }

void writeNotice(const std::string& text) {
  if (fwrite(text.data(), 1, text.size(), stderr) != text.size()) clearerr(stderr);
}

int finishOutput(int status) {
  if (fflush(stdout) != 0) remember(errno);
  if (ferror(stdout) || ferror(stderr)) remember(0);
  if (gFirstError == 0) return status;
  fprintf(stderr, "icl: cannot write the output: %s\n", strerror(gFirstError));
  return status == 0 ? 1 : status;
}

}  // namespace tool
}  // namespace icl
