#include "Usage.h"

#include <stdio.h>

namespace icl {
namespace tool {
namespace {

struct CommandHelp {
  const char* name;
  const char* usage;     // after "icl "
  const char* about;     // what it does
  bool identity;         // takes --pool, --cache and --path
  const char* options;   // its own other options, or ""
  const char* example;   // after "icl "
};

const char* const kIdentityOptions =
    "  --pool ID          the index cache pool that owns the directory\n"
    "  --cache ID         the index cache\n"
    "  --path ID          this host's access path\n";

const char* const kCommonOptions =
    "Options of every command:\n"
    "  --host NAME        the host name written beside the access path and logged\n"
    "                     (default: this machine's host name)\n"
    "  --json             print one JSON object on standard output, for scripts\n"
    "  -v, --verbose      show the library's Debug and Error lines on standard error\n"
    "  -h, --help         show this help\n"
    "\n"
    "IDs are non-zero signed 32-bit decimals, markers non-zero signed 64-bit\n"
    "decimals. Values go as '--pool 3' or '--pool=3'; put '--' before a DIR that\n"
    "starts with '-'.\n";

const CommandHelp kHelp[] = {
    {"show", "show DIR",
     "Prints what the label DIR/icl_label.txt holds: the index cache pool, the\n"
     "index cache, the timestamp marker, and every access path line with the host\n"
     "name written beside it. Changes nothing.\n",
     false, "", "show /srv/ic/cache7"},
    {"check", "check DIR --pool ID --cache ID --path ID [--marker N]",
     "Checks that the label belongs to the expected pool and index cache (and\n"
     "carries the expected timestamp marker, when --marker is given). If it does\n"
     "but does not list the access path yet, the access path is added with the\n"
     "host name. A missing or unreadable label is a failure: check never writes a\n"
     "new label (see update --allow-new and new).\n",
     true, "  --marker N         the expected timestamp marker; not compared without it\n",
     "check /srv/ic/cache7 --pool 3 --cache 7 --path 12"},
    {"update",
     "update DIR --pool ID --cache ID --path ID [--marker N] [--allow-new]\n"
     "                  [--description TEXT]",
     "Brings the label up to date for the access path: reads it, checks pool and\n"
     "cache, then adds the access path line or refreshes its host name. With\n"
     "--marker the label takes that timestamp marker; without it, it keeps its own.\n",
     true,
     "  --marker N         the timestamp marker to stamp into the label\n"
     "  --allow-new        write a new label when there is none or it is invalid\n"
     "                     (needs --marker); a new label lists only this access path\n"
     "  --description TEXT the description line of such a new label\n",
     "update /srv/ic/cache7 --pool 3 --cache 7 --path 12 --marker 1001 --allow-new"},
    {"remove", "remove DIR --pool ID --cache ID --path ID",
     "Takes the access path out of the label, after checking that the label\n"
     "belongs to the pool and index cache given. Removing an access path that is\n"
     "not listed succeeds. The timestamp marker is left as it is.\n",
     true, "", "remove /srv/ic/cache7 --pool 3 --cache 7 --path 12"},
    {"new", "new DIR --pool ID --cache ID --path ID --marker N [--description TEXT]",
     "Writes a new label, replacing any label in DIR: it names the pool, the index\n"
     "cache and the timestamp marker, and lists only this access path. Access\n"
     "paths listed in an old label are lost.\n",
     true,
     "  --marker N         the timestamp marker\n"
     "  --description TEXT the description line (default: names the index cache id)\n",
     "new /srv/ic/cache7 --pool 3 --cache 7 --path 12 --marker 1001"},
    {"test-dir", "test-dir DIR",
     "Creates DIR with its missing parents (DIR must then be absolute) and proves\n"
     "on a scratch file that files can be created, written, read back, locked,\n"
     "re-owned, re-moded and removed there, and that an existing label can be\n"
     "opened for update. The label itself is not changed.\n",
     false, "", "test-dir /srv/ic/cache7"},
    {"du", "du DIR [--detail]",
     "Prints the size of the index cache in KB: the sum over its well-known\n"
     "sub-directories (ZU_Index, ZU_FcsIndex, ZU_Opt1, ZU_SnapMetadata,\n"
     "CatalogServer, ZU_SIDB). Each file counts as its length / 1024 + 1 KB;\n"
     "symbolic links are not followed.\n",
     false,
     "  --detail           also print each sub-directory's size, and switch on the\n"
     "                     library's per-entry lines (seen with -v)\n",
     "du /srv/ic/cache7 --detail"},
};

const CommandHelp* findHelp(const std::string& command) {
  for (const CommandHelp& h : kHelp) {
    if (command == h.name) return &h;
  }
  return nullptr;
}

void printToolHelp() {
  printf(
      "icl - look at and maintain the label of an index cache\n"
      "\n"
      "An index cache is a directory that holds index data for one or more hosts.\n"
      "Its label, icl_label.txt, names the index cache pool and the index cache that\n"
      "own the directory, a timestamp marker, and one line per access path (a\n"
      "numbered way for a host to use it) with the host's name.\n"
      "\n"
      "Usage: icl COMMAND DIR [OPTIONS]\n"
      "\n"
      "Commands:\n"
      "  show DIR       print the label: pool, cache, marker, access paths\n"
      "  check DIR      check the label against the expected pool and cache, and\n"
      "                 register the access path\n"
      "  update DIR     add or refresh the access path; optionally write a new label\n"
      "  remove DIR     take the access path out of the label\n"
      "  new DIR        write a new label, replacing any label there\n"
      "  test-dir DIR   create DIR if needed and prove files can be made there\n"
      "  du DIR         the index cache's size in KB\n"
      "\n"
      "%s"
      "\n"
      "Exit status: 0 success, 1 the operation failed (the message names the error\n"
      "code and its event code), 2 a usage error.\n"
      "\n"
      "Examples:\n"
      "  icl show /srv/ic/cache7\n"
      "  icl check /srv/ic/cache7 --pool 3 --cache 7 --path 12 --json\n"
      "  icl check --help          the options of one command\n",
      kCommonOptions);
}

}  // namespace

void printHelp(const std::string& command) {
  const CommandHelp* help = findHelp(command);
  if (help == nullptr) {
    printToolHelp();
    return;
  }
  printf("Usage: icl %s [OPTIONS]\n\n%s", help->usage, help->about);
  if (help->identity || help->options[0] != '\0') {
    printf("\nOptions:\n%s%s", help->identity ? kIdentityOptions : "", help->options);
  }
  printf("\nExample:\n  icl %s\n\n%s", help->example, kCommonOptions);
}

void printUsageError(const std::string& command, const std::string& error) {
  const CommandHelp* help = findHelp(command);
  if (help == nullptr) {
    fprintf(stderr, "icl: %s\nUsage: icl COMMAND DIR [OPTIONS]\nRun 'icl --help' for the commands.\n",
            error.c_str());
    return;
  }
  fprintf(stderr, "icl %s: %s\nUsage: icl %s [OPTIONS]\nRun 'icl %s --help' for more.\n",
          help->name, error.c_str(), help->usage, help->name);
}

}  // namespace tool
}  // namespace icl
