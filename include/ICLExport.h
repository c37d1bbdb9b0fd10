#ifndef ICL_EXPORT_H
#define ICL_EXPORT_H

// The library is built with hidden visibility; only declarations that carry
// ICL_API are exported from libicl.so.
#define ICL_API __attribute__((visibility("default")))
// Members of an exported class that stay inside the library.
#define ICL_INTERNAL __attribute__((visibility("hidden")))

#endif
