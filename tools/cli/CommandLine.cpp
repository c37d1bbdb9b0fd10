#include "CommandLine.h"

#include <string.h>

#include <charconv>
#include <limits>
#include <vector>

#include "CommandTable.h"

namespace icl {
namespace tool {
namespace {

// "a", "a and b", "a, b and c".
std::string joinList(const std::vector<std::string>& items) {
  std::string out;
  for (size_t i = 0; i < items.size(); ++i) {
    if (i > 0) out += i + 1 == items.size() ? " and " : ", ";
    out += items[i];
  }
  return out;
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

std::string notANumber(const std::string& name, const std::string& value, bool outOfRange,
                       const char* range) {
  return name + ": '" + value + "' is " +
         (outOfRange ? std::string("out of range ") + range : "not a decimal number");
}

bool* flagFor(Invocation& inv, OptionBit bit) {
  switch (bit) {
    case kJson:
      return &inv.json;
    case kVerbose:
      return &inv.verbose;
    case kQuiet:
      return &inv.quiet;
    case kHelp:
      return &inv.help;
    case kAllowNew:
      return &inv.allowNew;
    case kDetail:
      return &inv.detail;
    default:
      return nullptr;  // --version: the command it stands for says it
  }
}

// Parses and stores one option's value; returns the complaint, or "".
std::string store(Invocation& inv, const OptionSpec& option, const std::string& value) {
  const std::string name = option.name;
  bool outOfRange = false;
  if (option.value != ValueKind::None && option.value != ValueKind::Text && value.empty()) {
    return name + ": empty value";
  }
  switch (option.value) {
    case ValueKind::None:
      if (bool* flag = flagFor(inv, option.bit)) *flag = true;
      return "";
    case ValueKind::Text: {
      std::string problem = checkText(value);
      if (!problem.empty()) return name + " " + problem;
      (option.bit == kHost ? inv.host : inv.description) = value;
      return "";
    }
    case ValueKind::Id: {
      auto id = parseDecimal(value, std::numeric_limits<int32_t>::min(),
                             std::numeric_limits<int32_t>::max(), outOfRange);
      if (!id) return notANumber(name, value, outOfRange, "for a signed 32-bit id");
      if (*id == 0) return name + ": 0 is no id (0 means unset)";
      std::optional<int32_t>& field = option.bit == kPool    ? inv.pool
                                      : option.bit == kCache ? inv.cache
                                                             : inv.path;
      field = static_cast<int32_t>(*id);
      return "";
    }
    case ValueKind::Marker: {
      // A signed 64-bit value; 0 means "unset" to the library.
      auto marker = parseDecimal(value, std::numeric_limits<int64_t>::min(),
                                 std::numeric_limits<int64_t>::max(), outOfRange);
      if (!marker) return notANumber(name, value, outOfRange, "for a 64-bit marker");
      if (*marker == 0) return name + ": the marker must not be 0 (0 means unset)";
      inv.marker = *marker;
      return "";
    }
    case ValueKind::Seconds: {
      auto seconds = parseDecimal(value, 0, kMaxWaitSeconds, outOfRange);
      if (!seconds) return notANumber(name, value, outOfRange, "(0 to 86400 seconds)");
      inv.waitSeconds = static_cast<int>(*seconds);
      return "";
    }
  }
  return "";
}

// Whether `name` (or `shortName`) stands before any `--`, without parsing:
// --help must win over a mistake beside it, and --json must shape the
// report of a mistake made before it.
bool hasFlag(int argc, const char* const* argv, const char* name, const char* shortName) {
  for (int i = 1; i < argc; ++i) {
    if (strcmp(argv[i], "--") == 0) return false;
    if (strcmp(argv[i], name) == 0 || (shortName != nullptr && strcmp(argv[i], shortName) == 0)) {
      return true;
    }
  }
  return false;
}

class Parser {
 public:
  explicit Parser(Invocation& inv) : inv_(inv) {}

  // The first complaint, or "".
  std::string parse(int argc, const char* const* argv) {
    bool optionsEnded = false;
    for (int i = 1; i < argc; ++i) {
      const std::string arg = argv[i];
      std::string error;
      if (!optionsEnded && arg == "--") {
        optionsEnded = true;
      } else if (optionsEnded || arg.size() < 2 || arg[0] != '-') {
        error = operand(arg);
      } else {
        error = option(arg, i, argc, argv);
      }
      if (!error.empty()) return error;
    }
    return complete();
  }

  bool unknownCommand() const { return unknownCommand_; }
  bool versionAsked() const { return (seen_ & kVersion) != 0; }

 private:
  std::string operand(const std::string& arg) {
    if (command_ == nullptr) {
      command_ = findCommand(arg);
      unknownCommand_ = command_ == nullptr;
      if (unknownCommand_) return "unknown command '" + arg + "'";
      inv_.command = arg;
      return "";
    }
    if (haveOperand_ || command_->operand == Operand::None) {
      return "unexpected argument '" + arg + "'" +
             (command_->operand == Operand::Dir ? " (only one DIR)" : "");
    }
    haveOperand_ = true;
    if (command_->operand == Operand::Dir) {
      inv_.dir = arg;
    } else if (findCommand(arg) != nullptr) {
      inv_.topic = arg;
    } else {
      return "no command '" + arg + "' to help with";
    }
    return "";
  }

  std::string option(const std::string& arg, int& i, int argc, const char* const* argv) {
    const size_t equals = arg.find('=');
    const OptionSpec* option = findOption(arg.substr(0, equals));
    if (option == nullptr) return "unknown option '" + arg.substr(0, equals) + "'";
    const std::string name = option->name;
    if ((option->bit & kGlobalOptions) == 0) {
      if (command_ == nullptr) return "option " + name + " goes after the command";
      if ((command_->allowed & option->bit) == 0) {
        return "option " + name + " does not apply to " + command_->name;
      }
    }
    if ((seen_ & option->bit) != 0) return "option " + name + " given more than once";
    seen_ |= option->bit;
    std::string value;
    if (option->value == ValueKind::None) {
      if (equals != std::string::npos) return "option " + name + " takes no value";
    } else if (equals != std::string::npos) {
      value = arg.substr(equals + 1);
    } else if (i + 1 < argc) {
      value = argv[++i];
    } else {
      return "option " + name + " needs a value";
    }
    return store(inv_, *option, value);
  }

  std::string complete() const {
    if (command_ == nullptr) return inv_.help || versionAsked() ? "" : "no command given";
    if (command_->operand != Operand::Dir) return "";
    if (haveOperand_ && inv_.dir.empty()) return "the index cache directory DIR must not be empty";
    // Everything that is missing at once: one round trip for the operator.
    std::vector<std::string> missing;
    if (!haveOperand_) missing.push_back("the index cache directory DIR");
    std::vector<std::string> options;
    for (const OptionSpec& o : kOptions) {
      if ((command_->required & ~seen_ & o.bit) != 0) options.push_back(o.name);
    }
    if (!options.empty()) {
      missing.push_back(
          std::string(options.size() == 1 ? "the required option " : "the required options ") +
          joinList(options));
    }
    if (!missing.empty()) return "missing " + joinList(missing);
    if (inv_.allowNew && !inv_.marker) {
      return "--allow-new needs --marker: a new label must carry a timestamp marker";
    }
    return "";
  }

  Invocation& inv_;
  const CommandSpec* command_ = nullptr;
  bool unknownCommand_ = false;
  unsigned seen_ = 0;
  bool haveOperand_ = false;
};

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
  Parser parser(inv);
  out.error = parser.parse(argc, argv);
  inv.json = inv.json || hasFlag(argc, argv, "--json", nullptr);
  if (parser.unknownCommand()) return out;
  // Help, then the version, win over anything wrong beside them.
  if (inv.command == "help" && out.error.empty()) {
    inv.help = true;
    inv.command = inv.topic;
  } else if (hasFlag(argc, argv, "--help", "-h")) {
    inv.help = true;
    out.error.clear();
  } else if (parser.versionAsked() || hasFlag(argc, argv, "--version", nullptr)) {
    inv.command = "version";
    out.error.clear();
  }
  return out;
}

}  // namespace tool
}  // namespace icl
