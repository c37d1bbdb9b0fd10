#include "Scratch.h"

#include <dirent.h>
#include <errno.h>
#include <fcntl.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

namespace icl {
namespace fuzz {
namespace {

// Owns the directory; its destructor runs at a normal exit.
class ScratchDirectory {
 public:
  ScratchDirectory() {
    const char* base = getenv("TMPDIR");
    std::string pattern = std::string(base != nullptr && base[0] != '\0' ? base : "/tmp") +
                          "/icl-fuzz.XXXXXX";
    if (mkdtemp(&pattern[0]) != nullptr) path_ = pattern;
  }
  ~ScratchDirectory() {
    if (path_.empty()) return;
    // Flat: the properties and the library only ever make files here.
    if (DIR* dir = opendir(path_.c_str())) {
      while (struct dirent* entry = readdir(dir)) {
        if (strcmp(entry->d_name, ".") == 0 || strcmp(entry->d_name, "..") == 0) continue;
        unlink((path_ + "/" + entry->d_name).c_str());
      }
      closedir(dir);
    }
    rmdir(path_.c_str());
  }
  ScratchDirectory(const ScratchDirectory&) = delete;
  ScratchDirectory& operator=(const ScratchDirectory&) = delete;
  const std::string& path() const { return path_; }

 private:
  std::string path_;
};

}  // namespace

const std::string& scratchDirectory() {
  static ScratchDirectory directory;
  return directory.path();
}

std::string scratchPath(const std::string& name) { return scratchDirectory() + "/" + name; }

std::string writeScratchFile(const std::string& name, const std::string& bytes) {
  if (scratchDirectory().empty()) return "no scratch directory could be made";
  const std::string path = scratchPath(name);
  int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  if (fd < 0) return "cannot create " + path + ": " + strerror(errno);
  size_t done = 0;
  while (done < bytes.size()) {
    ssize_t n = write(fd, bytes.data() + done, bytes.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      std::string why = n < 0 ? strerror(errno) : "nothing written";
      close(fd);
      return "cannot write " + path + ": " + why;
    }
    done += static_cast<size_t>(n);
  }
  if (close(fd) != 0) return "cannot close " + path + ": " + strerror(errno);
  return "";
}

bool readScratchFile(const std::string& name, std::string& bytes) {
  bytes.clear();
  int fd = open(scratchPath(name).c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return false;
  char block[8192];
  for (;;) {
    ssize_t n = read(fd, block, sizeof block);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) {
      close(fd);
      return false;
    }
    if (n == 0) break;
    bytes.append(block, static_cast<size_t>(n));
  }
  close(fd);
  return true;
}

bool scratchFileExists(const std::string& name) {
  struct stat st;
  return lstat(scratchPath(name).c_str(), &st) == 0;
}

CapturedLog::CapturedLog() { EvSetLogSink(&CapturedLog::sink, this); }

CapturedLog::~CapturedLog() { EvSetLogSink(nullptr, nullptr); }

void CapturedLog::sink(EvLogLevel level, const char* function, const char* message,
                       void* context) {
  static_cast<CapturedLog*>(context)->lines_.push_back(LoggedLine{level, function, message});
}

std::string describeLines(const std::vector<LoggedLine>& lines) {
  if (lines.empty()) return "(no lines)";
  std::string out;
  for (const LoggedLine& line : lines) {
    out += std::string("\n  ") + (line.level == EV_LOG_ERROR ? "Error " : "Debug ") +
           line.function + ": " + line.message;
  }
  return out;
}

uint64_t inputHash(const uint8_t* data, size_t size) {
  // FNV-1a, 64 bits, then mixed.
  uint64_t hash = 14695981039346656037ull;
  for (size_t i = 0; i < size; ++i) {
    hash ^= data[i];
    hash *= 1099511628211ull;
  }
  // FNV's high bits barely move with the last bytes; mix them in (the
  // finaliser of MurmurHash3), since the choices are drawn from high bits.
  hash ^= hash >> 33;
  hash *= 0xff51afd7ed558ccdull;
  hash ^= hash >> 33;
  hash *= 0xc4ceb9fe1a85ec53ull;
  hash ^= hash >> 33;
  return hash;
}

uint64_t InputDraws::next() {
  // splitmix64
  uint64_t z = (state_ += 0x9e3779b97f4a7c15ull);
  z = (z ^ (z >> 30)) * 0xbf58476d1ce4e5b9ull;
  z = (z ^ (z >> 27)) * 0x94d049bb133111ebull;
  return z ^ (z >> 31);
}

}  // namespace fuzz
}  // namespace icl
