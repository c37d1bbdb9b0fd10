#include "HelpText.h"

namespace icl {
namespace tool {
namespace {

const OptionHelp kPool = {"--pool ID", "the index cache pool that owns the directory"};
const OptionHelp kCache = {"--cache ID", "the index cache"};
const OptionHelp kPath = {"--path ID", "this host's access path"};
const OptionHelp kWait = {"--wait SECONDS",
                          "wait at most this long for another writer's label lock\n"
                          "(default 30; 0: do not wait); after a second, a notice\n"
                          "says that it waits"};
const OptionHelp kNewDescription = {"--description TEXT",
                                    "the description line of a new label (default: names\n"
                                    "the index cache id)"};

}  // namespace

const ToolHelp& toolHelp() {
  static const ToolHelp help = {
      "icl",
      "look at and maintain the label of an index cache",
      "An index cache is a directory that holds index data for one or more hosts.\n"
      "Its label, icl_label.txt, names the index cache pool and the index cache that\n"
      "own the directory, a timestamp marker, and one line per access path (a\n"
      "numbered way for a host to use it) with the host's name.\n"
      "\n"
      "Writers (check, update, remove, new) take a lock on icl_label.lock beside\n"
      "the label, wait for each other, and replace the label whole: readers on any\n"
      "host see the old label or the new one, never a mix.",
      {"icl [GLOBAL OPTIONS] COMMAND DIR [OPTIONS]", "icl help [COMMAND]", "icl version"},
      {
          {"--json",
           "print one JSON object on standard output, for scripts;\n"
           "usage errors too (see Output)"},
          {"-v, --verbose", "show the library's Debug and Error lines on standard error"},
          {"-q, --quiet",
           "no notices on standard error (the wait notice, the\n"
           "progress line, warnings, hints); errors still show"},
          {"--host NAME",
           "the host name written beside the access path and logged\n"
           "(default: this machine's host name)"},
          {"-h, --help", "show this help, or with a command that command's help"},
          {"--version", "the same as the command version"},
      },
      "Global options go before or after the command. IDs are non-zero signed 32-bit\n"
      "decimals, markers non-zero signed 64-bit decimals. Values go as '--pool 3' or\n"
      "'--pool=3'; put '--' before a DIR that starts with '-'.",
      {
          {"Exit status",
           "0 success; 1 the operation failed (the message names the error, its code\n"
           "and its event code, e.g. ICL_ERROR_MISMATCH (8), event code 0x23000238),\n"
           "its result could not be written, or du's total is incomplete (INCOMPLETE);\n"
           "2 a usage error."},
          {"Output",
           "Text output shows control characters and bytes that are not UTF-8 as\n"
           "\\xNN. With --json, every command prints one object on one line, also on\n"
           "failure: \"schema\": 1, \"command\", \"dir\", \"ok\", the command's values,\n"
           "and on failure \"error\" (\"name\", \"code\", \"event\", \"message\") and\n"
           "\"libraryErrors\". check, update, remove and new tell in \"changed\" whether\n"
           "the label's bytes changed (null when the tool could not read the label\n"
           "before or after). Strings are UTF-8: a byte that is not becomes U+FFFD.\n"
           "SCHEMA.md in icl's sources describes every field."},
          {"Environment",
           "ICL_PROGRESS_DELAY_MS: how long a walk of du runs before its progress line\n"
           "shows on a terminal, in milliseconds (default 1000)."},
      },
      {
          {"icl_label.txt",
           "The label. Writers replace it whole, renaming a new file over it; edit\n"
           "or remove it only while no writer runs (removing it drops every access\n"
           "path)."},
          {"icl_label.lock",
           "Writers lock it (fcntl record locks) while they change the label; it\n"
           "stays empty. Never remove it: a writer holding the old file and one\n"
           "locking a new one would not exclude each other."},
          {"icl_label.claim",
           "Stands while a writer changes the label (where locks do not reach every\n"
           "host, writers take turns through it); its tag line names the writer that\n"
           "holds it. Writers remove it when done, and take over one whose writer is\n"
           "gone. Remove it by hand only after making sure that the process of the\n"
           "writer its tag names is gone, on whichever host it ran."},
          {"icl_label.txt.tmp-*",
           "A writer's new label, before it is renamed over the label. One is left\n"
           "only where a writer was killed or could not remove it; writers sweep\n"
           "such files (at once when their writer ran on this host and is gone,\n"
           "otherwise once unmodified for 15 minutes). Remove one by hand when no\n"
           "writer runs, or once it is older than 15 minutes. icl_label.txt.tmp is\n"
           "an older version's."},
          {"test_rdwrite.txt.NODE.PID.N",
           "The scratch file of a capability test (icl test-dir) run by process PID\n"
           "on the host whose node name is NODE; the test removes it. One is left\n"
           "only where a test was killed or could not remove it, and no test removes\n"
           "another's: remove it once that process is gone. test_rdwrite.txt,\n"
           "without the suffix, is an older version's: remove it when no test of an\n"
           "older version runs."},
      },
      "fcntl(2) for the writers' lock. The library's contract, every answer and\n"
      "error code: /usr/include/icl/ICLRoutines.h (package libicl-dev), or\n"
      "include/ICLRoutines.h in icl's sources; the --json output: tools/SCHEMA.md\n"
      "there.",
  };
  return help;
}

const std::vector<CommandHelp>& commandHelp() {
  static const std::vector<CommandHelp> commands = {
      {"show",
       "icl show DIR",
       "print the label: pool, cache, marker, access paths",
       "Prints what the label DIR/icl_label.txt holds: the index cache pool, the\n"
       "index cache, the timestamp marker, and every access path line with the host\n"
       "name written beside it. Changes nothing.",
       {},
       {{"icl show /srv/ic/cache7",
         "Every line of the label, with the host beside each access path"},
        {"icl show /srv/ic/cache7 --json", "The same as one JSON object, for scripts"}}},
      {"check",
       "icl check DIR --pool ID --cache ID --path ID [--marker N] [--wait SECONDS]",
       "check the label against the expected pool and cache, and\nregister the access path",
       "Checks that the label belongs to the expected pool and index cache (and\n"
       "carries the expected timestamp marker, when --marker is given). If it does\n"
       "but does not list the access path yet, the access path is added with the\n"
       "host name. A missing or unreadable label is a failure: check never writes a\n"
       "new label (see update --allow-new and new).",
       {kPool,
        kCache,
        kPath,
        {"--marker N", "the expected timestamp marker; not compared without it"},
        kWait},
       {{"icl check /srv/ic/cache7 --pool 3 --cache 7 --path 12",
         "Is this pool 3's cache 7? If so, make sure it lists access path 12"},
        {"icl check /srv/ic/cache7 --pool 3 --cache 7 --path 12 --marker 1001",
         "The same, and the label must carry marker 1001"},
        {"icl --json check /srv/ic/cache7 --pool 3 --cache 7 --path 12",
         "As JSON; \"changed\" tells whether access path 12 was added"}}},
      {"update",
       "icl update DIR --pool ID --cache ID --path ID [--marker N] [--allow-new]\n"
       "           [--description TEXT] [--wait SECONDS]",
       "add or refresh the access path; may write a new label",
       "Brings the label up to date for the access path: reads it, checks pool and\n"
       "cache, then adds the access path line or refreshes its host name. With\n"
       "--marker the label takes that timestamp marker; without it, it keeps its own.",
       {kPool,
        kCache,
        kPath,
        {"--marker N", "the timestamp marker to stamp into the label"},
        {"--allow-new",
         "write a new label when there is none or it is invalid\n"
         "(needs --marker); a new label lists only this access path"},
        kNewDescription,
        kWait},
       {{"icl update /srv/ic/cache7 --pool 3 --cache 7 --path 12 --host hostB",
         "List access path 12 for host hostB, or refresh its host name"},
        {"icl update /srv/ic/cache7 --pool 3 --cache 7 --path 12 \\\n    --marker 1001 --allow-new",
         "Stamp marker 1001, and write a new label if there is no usable one"},
        {"icl update /srv/ic/cache7 --pool 3 --cache 7 --path 12 --wait 0",
         "Fail at once rather than wait while another writer holds the lock"}}},
      {"remove",
       "icl remove DIR --pool ID --cache ID --path ID [--wait SECONDS]",
       "take the access path out of the label",
       "Takes the access path out of the label, after checking that the label\n"
       "belongs to the pool and index cache given. Removing an access path that is\n"
       "not listed succeeds. The timestamp marker is left as it is.",
       {kPool, kCache, kPath, kWait},
       {{"icl remove /srv/ic/cache7 --pool 3 --cache 7 --path 12",
         "Access path 12 no longer uses the cache"},
        {"icl remove /srv/ic/cache7 --pool 3 --cache 7 --path 12 --wait 120",
         "On busy shared storage, wait up to two minutes for the lock"}}},
      {"new",
       "icl new DIR --pool ID --cache ID --path ID --marker N [--description TEXT]\n"
       "        [--wait SECONDS]",
       "write a new label, replacing any label there",
       "Writes a new label, replacing any label in DIR: it names the pool, the index\n"
       "cache and the timestamp marker, and lists only this access path. Access\n"
       "paths listed in an old label are lost.",
       {kPool, kCache, kPath, {"--marker N", "the timestamp marker"}, kNewDescription, kWait},
       {{"icl new /srv/ic/cache7 --pool 3 --cache 7 --path 12 --marker 1001",
         "A new label that lists only access path 12"},
        {"icl new /srv/ic/cache7 --pool 3 --cache 7 --path 12 --marker 1001 \\\n"
         "    --description 'Cache 7 on filer2'",
         "The same, with a description line of your own"}}},
      {"test-dir",
       "icl test-dir DIR",
       "create DIR if needed and prove files can be made there",
       "Creates DIR with its missing parents (a relative DIR is taken from the\n"
       "current directory) and proves on a scratch file that files can be created,\n"
       "written, read back, locked, re-owned, re-moded and removed there, and that\n"
       "an existing label can be opened for update. The label itself is not changed.\n"
       "Any number of hosts may test one directory at once: each test works on a\n"
       "scratch file of its own, test_rdwrite.txt.NODE.PID.N, and touches no other.",
       {},
       {{"icl test-dir /srv/ic/cache8",
         "Create the directory if needed, and prove that files can be made there"},
        {"icl test-dir cache8", "The same for cache8 in the current directory"},
        {"icl test-dir /srv/ic/cache8 --json",
         "As JSON; \"created\" tells whether the directory was made"}}},
      {"du",
       "icl du DIR [--detail]",
       "the index cache's size in KB",
       "Prints the size of the index cache in KB: the sum over its well-known\n"
       "sub-directories (ZU_Index, ZU_FcsIndex, ZU_Opt1, ZU_SnapMetadata,\n"
       "CatalogServer, ZU_SIDB). Each file counts as its length / 1024 + 1 KB.\n"
       "Symbolic links inside them are not followed; a well-known sub-directory that\n"
       "is itself a link to a directory is measured where it leads. A directory with\n"
       "none of them measures 0 KB and gets a warning. On a terminal, a walk that\n"
       "takes longer than a second shows files, directories and bytes so far on\n"
       "standard error.\n"
       "\n"
       "When a directory or file in them cannot be read (no permission, an I/O\n"
       "error), the total printed is that of the rest: standard error names each\n"
       "part left out with the failed call and its reason, and the exit status is 1\n"
       "(INCOMPLETE; in JSON \"ok\" and \"complete\" are false).",
       {{"--detail",
         "also print each sub-directory's size; with -v, the library's\n"
         "line for every entry"}},
       {{"icl du /srv/ic/cache7", "The size in KB"},
        {"icl du /srv/ic/cache7 --detail",
         "The same, and the size of each well-known sub-directory"},
        {"icl du /srv/ic/cache7 --json",
         "As JSON; \"indexCache\": any well-known sub-directory; \"complete\": all read"}}},
      {"version",
       "icl version",
       "the tool's version, and the library's",
       "Prints the tool's version, and the version, SONAME and file of the icl\n"
       "library it loaded.",
       {},
       {{"icl version", "The tool's version, and the library's version, SONAME and file"},
        {"icl version --json", "The same as JSON; icl --version is short for icl version"}}},
      {"help",
       "icl help [COMMAND]",
       "this help, or one command's",
       "Prints the help of icl, or of one command: what it does, its options and\n"
       "examples. The manual page icl(1) holds the same text.",
       {},
       {{"icl help update", "The options and examples of update, as icl update --help shows them"},
        {"icl help", "The help of icl itself, the same as icl --help"}}},
  };
  return commands;
}

const CommandHelp* findCommandHelp(const std::string& name) {
  for (const CommandHelp& c : commandHelp()) {
    if (name == c.name) return &c;
  }
  return nullptr;
}

}  // namespace tool
}  // namespace icl
