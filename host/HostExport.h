#ifndef ICL_HOST_EXPORT_H
#define ICL_HOST_EXPORT_H

// The host stand-in is built with hidden visibility; only what carries this
// macro is part of its interface, so a real host library can replace it.
#define ZU_HOST_API __attribute__((visibility("default")))

#endif
