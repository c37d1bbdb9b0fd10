#include "storage/Storage.h"

#include <fcntl.h>
#include <string.h>
#include <sys/stat.h>
#include <sys/statfs.h>
#include <sys/sysmacros.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <vector>

#include "sys/FileIo.h"
#include "sys/SysCalls.h"

namespace icl {
namespace {

// f_type values of file systems that several hosts mount at once.
const unsigned long kSharedTypes[] = {
    0x65735546,  // FUSE
    0x6969,      // NFS
    0x517B,      // SMB
    0xFF534D42,  // CIFS
    0xFE534D42,  // SMB2
    0x00C36400,  // Ceph
    0x5346414F,  // AFS
    0x6B414653,  // kAFS
    0x01021997,  // 9P
    0x01161970,  // GFS2
    0x7461636F,  // OCFS2
    0x0BD00BD0,  // Lustre
};

const size_t kMountInfoLimit = 4 << 20;
const size_t kRecentDirCapacity = 256;  // a location is at most 255 characters
using Clock = std::chrono::steady_clock;

// /proc/self/mountinfo, whole; "" when it cannot be read.
std::string readMountInfo() {
  sys::UniqueFd fd(sys::openRetry("/proc/self/mountinfo", O_RDONLY | O_CLOEXEC));
  if (!fd.valid()) return "";
  std::string text;
  std::string chunk(65536, '\0');
  for (;;) {
    // procfs fills a read as far as it can: a short one is the end.
    const ssize_t got = sys::readOnce(fd.get(), &chunk[0], chunk.size());
    if (got < 0) return "";
    text.append(chunk, 0, static_cast<size_t>(got));
    if (static_cast<size_t>(got) < chunk.size() || text.size() > kMountInfoLimit) return text;
  }
}

struct MountFields {
  std::string type;
  std::string source;  // as mountinfo writes it: space, tab, newline, \ and # as \ooo
};

// The parts of `text` between `separator`s, empty ones left out (no stream:
// a stream's locale costs a system call the first time).
std::vector<std::string> split(const std::string& text, char separator) {
  std::vector<std::string> parts;
  size_t start = 0;
  for (size_t end; (end = text.find(separator, start)) != std::string::npos; start = end + 1) {
    if (end > start) parts.push_back(text.substr(start, end - start));
  }
  if (start < text.size()) parts.push_back(text.substr(start));
  return parts;
}

// The type and source fields of the mountinfo line for device `device` ("major:minor").
MountFields fieldsOfDevice(const std::string& mountInfo, const std::string& device) {
  for (const std::string& line : split(mountInfo, '\n')) {
    const std::vector<std::string> fields = split(line, ' ');
    if (fields.size() < 3 || fields[2] != device) continue;
    // Optional fields end at "-"; the type and the source follow.
    const auto dash = std::find(fields.begin() + 3, fields.end(), "-");
    if (fields.end() - dash < 3) continue;
    return MountFields{dash[1], dash[2]};
  }
  return {};
}

}  // namespace

StorageKind storageKindOf(const std::string& dir) {
  struct statfs st;
  if (sys::calls().statfs(dir.c_str(), &st) != 0) return StorageKind::Local;
  for (unsigned long type : kSharedTypes) {
    if (static_cast<unsigned long>(st.f_type) == type) return StorageKind::Shared;
  }
  return StorageKind::Local;
}

namespace {

// One thread's facts of the directory it asked about last. Plain data only:
// a thread-local object with a destructor would keep the library mapped
// after dlclose for as long as the thread lives.
struct CachedFacts {
  char dir[kRecentDirCapacity];
  Clock::rep asked;  // 0: never
  StorageKind kind;
  char mountType[64];
  bool listingIsServersWord;
  bool serverLookups;
};
thread_local CachedFacts tCached = {};

bool freshFor(const std::string& dir, Clock::rep now) {
  const Clock::rep minute =
      std::chrono::duration_cast<Clock::duration>(std::chrono::minutes(1)).count();
  return tCached.asked != 0 && now - tCached.asked < minute && dir == tCached.dir;
}

}  // namespace

StorageFacts storageFactsOf(const std::string& dir) {
  const Clock::rep now = Clock::now().time_since_epoch().count();
  if (!freshFor(dir, now)) {
    StorageFacts facts;
    facts.kind = storageKindOf(dir);
    if (facts.kind == StorageKind::Shared) facts.mountType = mountTypeOf(dir);
    facts.listingIsServersWord = facts.mountType == "fuse.mfs";
    if (dir.size() >= sizeof tCached.dir || facts.mountType.size() >= sizeof tCached.mountType) {
      return facts;
    }
    memcpy(tCached.dir, dir.c_str(), dir.size() + 1);
    memcpy(tCached.mountType, facts.mountType.c_str(), facts.mountType.size() + 1);
    tCached.asked = now;
    tCached.kind = facts.kind;
    tCached.listingIsServersWord = facts.listingIsServersWord;
    tCached.serverLookups = true;
  }
  StorageFacts facts;
  facts.kind = tCached.kind;
  facts.mountType = tCached.mountType;
  facts.listingIsServersWord = tCached.listingIsServersWord;
  facts.serverLookups = tCached.serverLookups;
  return facts;
}

void noteNoServerLookups(const std::string& dir) {
  if (dir == tCached.dir) tCached.serverLookups = false;
}

std::string mountTypeIn(const std::string& mountInfo, dev_t device) {
  const MountFields mount = fieldsOfDevice(
      mountInfo, std::to_string(major(device)) + ":" + std::to_string(minor(device)));
  // MooseFS's client mounts as plain "fuse"; only its source, "mfs#MASTER:PORT", names it.
  const bool moosefs = mount.source.rfind("mfs#", 0) == 0 || mount.source.rfind("mfs\\043", 0) == 0;
  return mount.type == "fuse" && moosefs ? "fuse.mfs" : mount.type;
}

std::string mountTypeOf(const std::string& dir) {
  struct stat st;
  if (sys::calls().stat(dir.c_str(), &st) != 0) return "";
  return mountTypeIn(readMountInfo(), st.st_dev);
}

std::string sharedStorageNeeds(const std::string& type) {
  if (type == "fuse.glusterfs" || type == "glusterfs") {
    return "Hosts with older versions of this library lose changes there unless the volume "
           "options performance.open-behind and performance.stat-prefetch are off";
  }
  if (type == "fuse.mfs") {
    return "Changes from several hosts need MooseFS mounted with its locks on (no mfsnoposixlocks "
           "or mfsnobsdlocks) and no name cache (no mfsentrycacheto above 0)";
  }
  if (type.rfind("nfs", 0) == 0) {
    return "Changes from several hosts need NFSv4, or NFSv3 with its lock manager (no nolock or "
           "local_lock mount option)";
  }
  if (type.rfind("fuse", 0) == 0) {
    return "Changes from several hosts need a FUSE file system whose locks reach every client";
  }
  return "Changes from several hosts need locks that every host sees";
}

void noteSharedStorageOnce(EvDebug& log, const char* function, const std::string& dir,
                           const StorageFacts& facts) {
  static std::atomic<bool> noted{false};
  if (noted.exchange(true)) return;
  const std::string& type = facts.mountType;
  log.Debug(function,
            "The index cache [%s] is on shared storage (%s): the label is looked up at the server "
            "under the writers' lock. %s.",
            dir.c_str(), type.empty() ? "file system type unknown" : type.c_str(),
            sharedStorageNeeds(type).c_str());
}

}  // namespace icl
