#include "CommandTable.h"

namespace icl {
namespace tool {

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

}  // namespace tool
}  // namespace icl
