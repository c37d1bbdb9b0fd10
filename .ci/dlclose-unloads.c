/* Proves that dlclose unloads libicl.so.1 and the libicl_host.so.1 it
 * brought in. A library stays mapped after its last dlclose when another
 * object has bound to one of its symbols (GNU_UNIQUE symbols do that), so a
 * host that loads and unloads it would keep every copy.
 * Usage: dlclose-unloads PATH/TO/libicl.so.1 */
#include <dlfcn.h>
#include <stdio.h>
#include <string.h>

static const char *const kLibraries[] = {"/libicl.so.", "/libicl_host.so."};

/* 1 when /proc/self/maps shows a file whose path contains `name`, 0 when it
 * does not, -1 when the maps cannot be read. */
static int mapped(const char *name) {
  FILE *maps = fopen("/proc/self/maps", "r");
  if (maps == NULL) {
    perror("/proc/self/maps");
    return -1;
  }
  char line[4096];
  int found = 0;
  while (!found && fgets(line, sizeof line, maps) != NULL) {
    found = strstr(line, name) != NULL;
  }
  fclose(maps);
  return found;
}

/* 0 when every library is mapped exactly when `expected` says so. */
static int check(int expected, const char *when) {
  int failed = 0;
  for (size_t i = 0; i < sizeof kLibraries / sizeof kLibraries[0]; ++i) {
    int state = mapped(kLibraries[i]);
    if (state != expected) {
      fprintf(stderr, "dlclose-unloads: %s*%s %s\n", kLibraries[i] + 1, when,
              state < 0 ? "cannot be checked" : state ? "is still mapped" : "is not mapped");
      failed = 1;
    }
  }
  return failed;
}

int main(int argc, char **argv) {
  if (argc != 2) {
    fprintf(stderr, "usage: dlclose-unloads PATH/TO/libicl.so.1\n");
    return 2;
  }
  if (check(0, " before dlopen") != 0) return 1;
  void *library = dlopen(argv[1], RTLD_NOW | RTLD_LOCAL);
  if (library == NULL) {
    fprintf(stderr, "dlclose-unloads: %s\n", dlerror());
    return 1;
  }
  if (check(1, " after dlopen") != 0) return 1;
  if (dlclose(library) != 0) {
    fprintf(stderr, "dlclose-unloads: %s\n", dlerror());
    return 1;
  }
  void *again = dlopen(argv[1], RTLD_NOW | RTLD_NOLOAD);
  if (again != NULL) {
    fprintf(stderr, "dlclose-unloads: %s is still loaded after dlclose\n", argv[1]);
    dlclose(again);
    return 1;
  }
  if (check(0, " after dlclose") != 0) return 1;
  printf("dlclose unloaded libicl.so.1 and libicl_host.so.1\n");
  return 0;
}
