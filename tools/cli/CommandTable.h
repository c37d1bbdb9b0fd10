#ifndef ICL_TOOLS_CLI_COMMANDTABLE_H
#define ICL_TOOLS_CLI_COMMANDTABLE_H

// The commands and options icl accepts: the one table that the command-line
// parser and the bash completion read, so the two never disagree.

#include <string>

namespace icl {
namespace tool {

enum OptionBit : unsigned {
  kHost = 1u << 0,
  kJson = 1u << 1,
  kVerbose = 1u << 2,
  kQuiet = 1u << 3,
  kHelp = 1u << 4,
  kVersion = 1u << 5,
  kPool = 1u << 6,
  kCache = 1u << 7,
  kPath = 1u << 8,
  kMarker = 1u << 9,
  kAllowNew = 1u << 10,
  kDescription = 1u << 11,
  kDetail = 1u << 12,
  kWait = 1u << 13,
};

enum class ValueKind { None, Id, Marker, Text, Seconds };

struct OptionSpec {
  const char* name;
  const char* shortName;  // or null
  ValueKind value;
  OptionBit bit;
};

// Options that every command takes, also before the command.
const unsigned kGlobalOptions = kHost | kJson | kVerbose | kQuiet | kHelp | kVersion;
const unsigned kIdentity = kPool | kCache | kPath;

// In the order the help lists them.
inline const OptionSpec kOptions[] = {
    {"--pool", nullptr, ValueKind::Id, kPool},
    {"--cache", nullptr, ValueKind::Id, kCache},
    {"--path", nullptr, ValueKind::Id, kPath},
    {"--marker", nullptr, ValueKind::Marker, kMarker},
    {"--allow-new", nullptr, ValueKind::None, kAllowNew},
    {"--description", nullptr, ValueKind::Text, kDescription},
    {"--detail", nullptr, ValueKind::None, kDetail},
    {"--wait", nullptr, ValueKind::Seconds, kWait},
    {"--json", nullptr, ValueKind::None, kJson},
    {"--verbose", "-v", ValueKind::None, kVerbose},
    {"--quiet", "-q", ValueKind::None, kQuiet},
    {"--host", nullptr, ValueKind::Text, kHost},
    {"--help", "-h", ValueKind::None, kHelp},
    {"--version", nullptr, ValueKind::None, kVersion},
};

enum class Operand { Dir, Topic, None };  // what follows the command

struct CommandSpec {
  const char* name;
  unsigned allowed;  // besides kGlobalOptions
  unsigned required;
  Operand operand;
};

inline const CommandSpec kCommands[] = {
    {"show", 0, 0, Operand::Dir},
    {"check", kIdentity | kMarker | kWait, kIdentity, Operand::Dir},
    {"update", kIdentity | kMarker | kAllowNew | kDescription | kWait, kIdentity, Operand::Dir},
    {"remove", kIdentity | kWait, kIdentity, Operand::Dir},
    {"new", kIdentity | kMarker | kDescription | kWait, kIdentity | kMarker, Operand::Dir},
    {"test-dir", 0, 0, Operand::Dir},
    {"du", kDetail, 0, Operand::Dir},
    {"version", 0, 0, Operand::None},
    {"help", 0, 0, Operand::Topic},
};

const CommandSpec* findCommand(const std::string& name);
const OptionSpec* findOption(const std::string& name);  // long or short name

}  // namespace tool
}  // namespace icl

#endif
