#include "CommandLine.h"

#include <string.h>

#include <charconv>
#include <limits>

namespace icl {
namespace tool {
namespace {

enum OptionBit : unsigned {
  kHost = 1u << 0,
  kJson = 1u << 1,
  kVerbose = 1u << 2,
  kHelp = 1u << 3,
  kPool = 1u << 4,
  kCache = 1u << 5,
  kPath = 1u << 6,
  kMarker = 1u << 7,
  kAllowNew = 1u << 8,
  kDescription = 1u << 9,
  kDetail = 1u << 10,
};

enum class Kind { Flag, Id, Marker, Text };

struct OptionSpec {
  const char* name;
  const char* shortName;  // or null
  Kind kind;
  OptionBit bit;
};

const OptionSpec kOptions[] = {
    {"--host", nullptr, Kind::Text, kHost},
    {"--json", nullptr, Kind::Flag, kJson},
    {"--verbose", "-v", Kind::Flag, kVerbose},
    {"--help", "-h", Kind::Flag, kHelp},
    {"--pool", nullptr, Kind::Id, kPool},
    {"--cache", nullptr, Kind::Id, kCache},
    {"--path", nullptr, Kind::Id, kPath},
    {"--marker", nullptr, Kind::Marker, kMarker},
    {"--allow-new", nullptr, Kind::Flag, kAllowNew},
    {"--description", nullptr, Kind::Text, kDescription},
    {"--detail", nullptr, Kind::Flag, kDetail},
};

struct CommandSpec {
  const char* name;
  unsigned allowed;
  unsigned required;
};

const unsigned kCommon = kHost | kJson | kVerbose | kHelp;
const unsigned kIdentity = kPool | kCache | kPath;

const CommandSpec kCommands[] = {
    {"show", kCommon, 0},
    {"check", kCommon | kIdentity | kMarker, kIdentity},
    {"update", kCommon | kIdentity | kMarker | kAllowNew | kDescription, kIdentity},
    {"remove", kCommon | kIdentity, kIdentity},
    {"new", kCommon | kIdentity | kMarker | kDescription, kIdentity | kMarker},
    {"test-dir", kCommon, 0},
    {"du", kCommon | kDetail, 0},
};

const CommandSpec* findCommand(const std::string& name) {
  for (const CommandSpec& c : kCommands) {
    if (name == c.name) return &c;
  }
  return nullptr;
}

const OptionSpec* findOption(const std::string& name) {
  for (const OptionSpec& o : kOptions) {
    if (name == o.name || (o.shortName != nullptr && name == o.shortName)) return &o;
  }
  return nullptr;
}

// Host names and descriptions end up as text in the label: a line break or
// other control character there would forge label lines.
std::string checkText(const std::string& value) {
  if (value.empty()) return "must not be empty";
  if (value.size() > 255) return "must be at most 255 characters long";
  for (unsigned char c : value) {
    if (c < 0x20 || c == 0x7f) return "must not contain control characters or line breaks";
  }
  return "";
}

// Parses and stores one option's value; returns the complaint, or "".
std::string store(Invocation& inv, const OptionSpec& option, const std::string& value) {
  const std::string name = option.name;
  bool outOfRange = false;
  switch (option.kind) {
    case Kind::Flag:
      if (option.bit == kJson) inv.json = true;
      if (option.bit == kVerbose) inv.verbose = true;
      if (option.bit == kHelp) inv.help = true;
      if (option.bit == kAllowNew) inv.allowNew = true;
      if (option.bit == kDetail) inv.detail = true;
      return "";
    case Kind::Text: {
      std::string problem = checkText(value);
      if (!problem.empty()) return name + " " + problem;
      (option.bit == kHost ? inv.host : inv.description) = value;
      return "";
    }
    case Kind::Id: {
      if (value.empty()) return name + ": empty value";
      auto id = parseDecimal(value, std::numeric_limits<int32_t>::min(),
                             std::numeric_limits<int32_t>::max(), outOfRange);
      if (!id) {
        return name + ": '" + value + "' is " +
               (outOfRange ? "out of range for a signed 32-bit id" : "not a decimal number");
      }
      if (*id == 0) return name + ": 0 is no id (0 means unset)";
      std::optional<int32_t>& field =
          option.bit == kPool ? inv.pool : option.bit == kCache ? inv.cache : inv.path;
      field = static_cast<int32_t>(*id);
      return "";
    }
    case Kind::Marker: {
      if (value.empty()) return name + ": empty value";
      // A signed 64-bit value; 0 means "unset" to the library.
      auto marker = parseDecimal(value, std::numeric_limits<int64_t>::min(),
                                 std::numeric_limits<int64_t>::max(), outOfRange);
      if (!marker) {
        return name + ": '" + value + "' is " +
               (outOfRange ? "out of range for a 64-bit marker" : "not a decimal number");
      }
      if (*marker == 0) return name + ": the marker must not be 0 (0 means unset)";
      inv.marker = *marker;
      return "";
    }
  }
  return "";
}

bool asksForHelp(int argc, const char* const* argv) {
  for (int i = 1; i < argc; ++i) {
    if (strcmp(argv[i], "--") == 0) return false;
    if (strcmp(argv[i], "--help") == 0 || strcmp(argv[i], "-h") == 0) return true;
  }
  return false;
}

}  // namespace

std::optional<int64_t> parseDecimal(const std::string& text, int64_t min, int64_t max,
                                    bool& outOfRange) {
  outOfRange = false;
  const char* begin = text.data();
  const char* end = begin + text.size();
  // from_chars takes a '-' but no '+' and no blanks: exactly what is wanted.
  const char* digits = (begin != end && *begin == '-') ? begin + 1 : begin;
  if (digits == end || *digits < '0' || *digits > '9') return std::nullopt;
  int64_t value = 0;
  std::from_chars_result r = std::from_chars(begin, end, value);
  // Out of range or not, from_chars consumes every digit: anything left is junk.
  if (r.ptr != end) return std::nullopt;
  if (r.ec == std::errc::result_out_of_range || value < min || value > max) {
    outOfRange = true;
    return std::nullopt;
  }
  return value;
}

ParsedCommandLine parseCommandLine(int argc, const char* const* argv) {
  ParsedCommandLine out;
  Invocation& inv = out.invocation;
  if (argc < 2) {
    out.error = "no command given";
    return out;
  }
  const std::string first = argv[1];
  if (first == "--help" || first == "-h") {
    inv.help = true;
    return out;
  }
  const CommandSpec* command = findCommand(first);
  if (command == nullptr) {
    out.error = first[0] == '-' ? "expected a command before '" + first + "'"
                                : "unknown command '" + first + "'";
    return out;
  }
  inv.command = first;
  if (asksForHelp(argc, argv)) {
    inv.help = true;
    return out;
  }

  unsigned seen = 0;
  bool haveDir = false;
  bool optionsEnded = false;
  for (int i = 2; i < argc; ++i) {
    const std::string arg = argv[i];
    if (!optionsEnded && arg == "--") {
      optionsEnded = true;
      continue;
    }
    if (optionsEnded || arg.empty() || arg[0] != '-' || arg == "-") {
      if (haveDir) {
        out.error = "unexpected argument '" + arg + "' (only one DIR)";
        return out;
      }
      inv.dir = arg;
      haveDir = true;
      continue;
    }
    const size_t equals = arg.find('=');
    const std::string name = arg.substr(0, equals);
    const OptionSpec* option = findOption(name);
    if (option == nullptr) {
      out.error = "unknown option '" + name + "'";
      return out;
    }
    if ((command->allowed & option->bit) == 0) {
      out.error = "option " + std::string(option->name) + " does not apply to " + command->name;
      return out;
    }
    if ((seen & option->bit) != 0) {
      out.error = "option " + std::string(option->name) + " given more than once";
      return out;
    }
    seen |= option->bit;
    std::string value;
    if (option->kind == Kind::Flag) {
      if (equals != std::string::npos) {
        out.error = "option " + std::string(option->name) + " takes no value";
        return out;
      }
    } else if (equals != std::string::npos) {
      value = arg.substr(equals + 1);
    } else if (i + 1 < argc) {
      value = argv[++i];
    } else {
      out.error = "option " + std::string(option->name) + " needs a value";
      return out;
    }
    out.error = store(inv, *option, value);
    if (!out.error.empty()) return out;
  }

  if (!haveDir) {
    out.error = "missing the index cache directory DIR";
  } else if (inv.dir.empty()) {
    out.error = "the index cache directory DIR must not be empty";
  } else if (unsigned missing = command->required & ~seen) {
    for (const OptionSpec& o : kOptions) {
      if ((missing & o.bit) != 0) {
        out.error = "missing the required option " + std::string(o.name);
        break;
      }
    }
  } else if (inv.allowNew && !inv.marker) {
    out.error = "--allow-new needs --marker: a new label must carry a timestamp marker";
  }
  return out;
}

}  // namespace tool
}  // namespace icl
