#ifndef ICL_HOST_ZUEXCEPTION_H
#define ICL_HOST_ZUEXCEPTION_H

#include <string>

#include "HostExport.h"

// The product's exception type. Exported whole, so that a throw in one
// shared object is caught by reference in another.
class ZU_HOST_API ZuException {
 public:
  explicit ZuException(std::string text);
  virtual ~ZuException();

  // The exception's text.
  std::string formatError() const;

 private:
  std::string text_;
};

#endif
