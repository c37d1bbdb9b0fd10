#ifndef ICL_ICL_DIRECTORYCHAIN_H
#define ICL_ICL_DIRECTORYCHAIN_H

// Creating a directory with its missing parents, for a caller that must say
// which call failed where: ICLController::CreateDirRecursive reports only -1
// and its Error lines, the capability check also the failing call.

#include <string>

#include "sys/FileStep.h"

class ICLController;

namespace icl {

// What stopped the chain: the step whose call failed, Examining (stat: a
// directory along the path could not be examined) or Creating (mkdir: it
// could not be created), with its errno and the directory it worked on.
// None when no call failed (a null or relative path).
struct DirectoryFailure {
  FileStep step = FileStep::None;
  int err = 0;
  std::string directory;
};

// What CreateDirRecursive does, logging through `log` as it does, and on
// -1 telling `failure` why.
int createDirectoryChain(ICLController& log, char* path, DirectoryFailure& failure);

}  // namespace icl

#endif
