#ifndef ICL_DISKUSAGE_DIRRECORDS_H
#define ICL_DISKUSAGE_DIRRECORDS_H

// Reading the records that getdents64 leaves in a buffer (struct
// linux_dirent64, which glibc names struct dirent64). Fields are read at
// their offsets, never through a full struct dirent64, because a record is
// usually much shorter than that struct.

#include <dirent.h>
#include <stddef.h>
#include <stdint.h>
#include <string.h>

namespace icl {
namespace idxcache {

constexpr size_t kRecordLengthOffset = offsetof(struct dirent64, d_reclen);
constexpr size_t kRecordTypeOffset = offsetof(struct dirent64, d_type);
constexpr size_t kRecordNameOffset = offsetof(struct dirent64, d_name);

// The length of the record at `record`, or 0 when it would not fit in the
// `available` bytes left (a damaged listing).
inline size_t recordLength(const char* record, size_t available) {
  if (available <= kRecordNameOffset) return 0;
  uint16_t length;
  memcpy(&length, record + kRecordLengthOffset, sizeof length);
  if (length <= kRecordNameOffset || length > available) return 0;
  // The name must be terminated inside its record.
  if (memchr(record + kRecordNameOffset, '\0', length - kRecordNameOffset) == nullptr) return 0;
  return length;
}

inline unsigned char recordType(const char* record) {
  return static_cast<unsigned char>(record[kRecordTypeOffset]);
}

inline const char* recordName(const char* record) { return record + kRecordNameOffset; }

inline bool isDotOrDotDot(const char* name) {
  return name[0] == '.' && (name[1] == '\0' || (name[1] == '.' && name[2] == '\0'));
}

}  // namespace idxcache
}  // namespace icl

#endif
