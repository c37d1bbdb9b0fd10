// Proves that dlclose unloads libicl.so.1 and the libicl_host.so.1 it
// brought in, even after a label was changed on a thread that lives on. A
// library stays mapped after its last dlclose when another object has bound
// to one of its symbols (GNU_UNIQUE symbols do that) or a live thread holds
// thread-local objects with destructors in it, so a host that loads and
// unloads it would keep every copy.
// Usage: dlclose-unloads PATH/TO/libicl.so.1 WRITABLE-DIRECTORY
#include <dlfcn.h>
#include <unistd.h>

#include <condition_variable>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <new>
#include <thread>

#include "ICLRoutines.h"  // for the layout only: every call goes through dlsym

namespace {

const char* const kLibraries[] = {"/libicl.so.", "/libicl_host.so."};

// 1 when /proc/self/maps shows a file whose path contains `name`, 0 when it
// does not, -1 when the maps cannot be read.
int mapped(const char* name) {
  FILE* maps = fopen("/proc/self/maps", "r");
  if (maps == nullptr) return -1;
  char line[4096];
  int found = 0;
  while (!found && fgets(line, sizeof line, maps) != nullptr) found = strstr(line, name) != nullptr;
  fclose(maps);
  return found;
}

// 0 when every library is mapped exactly when `expected` says so.
int check(int expected, const char* when) {
  int failed = 0;
  for (const char* library : kLibraries) {
    const int state = mapped(library);
    if (state != expected) {
      fprintf(stderr, "dlclose-unloads: %s*%s %s\n", library + 1, when,
              state < 0 ? "cannot be checked"
              : state   ? "is still mapped"
                        : "is not mapped");
      failed = 1;
    }
  }
  return failed;
}

// Adds an access path to a new label in `directory` through the library's
// symbols. 0 on success.
int changeALabel(void* library, const char* directory) {
  using Construct = void (*)(void*, const char*, const char*);
  using SetData = int (*)(void*, ICLData);
  using Update = int (*)(void*, bool);
  using Destroy = void (*)(void*);
  auto construct = reinterpret_cast<Construct>(dlsym(library, "_ZN13ICLControllerC1EPKcS1_"));
  auto setData =
      reinterpret_cast<SetData>(dlsym(library, "_ZN13ICLController10SetICLDataE7ICLData"));
  auto update = reinterpret_cast<Update>(dlsym(library, "_ZN13ICLController9UpdateICLEb"));
  auto destroy = reinterpret_cast<Destroy>(dlsym(library, "_ZN13ICLControllerD1Ev"));
  if (construct == nullptr || setData == nullptr || update == nullptr || destroy == nullptr) {
    return 1;
  }
  alignas(ICLController) unsigned char storage[sizeof(ICLController)];
  construct(storage, "dlclose-host", directory);
  setData(storage, ICLData{3, 7, 77, 12});
  const int result = update(storage, true);
  destroy(storage);
  return result == 0 ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 3) {
    fprintf(stderr, "usage: dlclose-unloads PATH/TO/libicl.so.1 WRITABLE-DIRECTORY\n");
    return 2;
  }
  if (check(0, " before dlopen") != 0) return 1;
  void* library = dlopen(argv[1], RTLD_NOW | RTLD_LOCAL);
  if (library == nullptr) {
    fprintf(stderr, "dlclose-unloads: %s\n", dlerror());
    return 1;
  }
  if (check(1, " after dlopen") != 0) return 1;
  // The change runs on a thread that outlives the dlclose.
  std::mutex mutex;
  std::condition_variable changed, unloaded;
  int result = -1;
  bool done = false;
  std::thread host([&] {
    std::unique_lock<std::mutex> lock(mutex);
    result = changeALabel(library, argv[2]);
    changed.notify_one();
    unloaded.wait(lock, [&] { return done; });
  });
  {
    std::unique_lock<std::mutex> lock(mutex);
    changed.wait(lock, [&] { return result >= 0; });
  }
  int failed = result != 0;
  if (failed) fprintf(stderr, "dlclose-unloads: the label change failed\n");
  if (dlclose(library) != 0) {
    fprintf(stderr, "dlclose-unloads: %s\n", dlerror());
    failed = 1;
  }
  void* again = dlopen(argv[1], RTLD_NOW | RTLD_NOLOAD);
  if (again != nullptr) {
    fprintf(stderr, "dlclose-unloads: %s is still loaded after dlclose\n", argv[1]);
    dlclose(again);
    failed = 1;
  }
  if (check(0, " after dlclose") != 0) failed = 1;
  {
    std::lock_guard<std::mutex> lock(mutex);
    done = true;
  }
  unloaded.notify_one();
  host.join();
  if (failed) return 1;
  printf(
      "dlclose unloaded libicl.so.1 and libicl_host.so.1 after a label change on a live thread\n");
  return 0;
}
