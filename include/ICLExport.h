#ifndef ICL_EXPORT_H
#define ICL_EXPORT_H

// The library is built with hidden visibility; only declarations that carry
// ICL_API are exported from libicl.so.
#define ICL_API __attribute__((visibility("default")))

#endif
