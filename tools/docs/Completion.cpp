// The bash completion script, rendered from the command table at build
// time: commands, each command's options, directories for DIR and host
// names for --host.

#include <algorithm>
#include <string>
#include <vector>

#include "Help.h"
#include "cli/CommandTable.h"
#include "output/Output.h"

namespace icl {
namespace tool {
namespace {

// Every name of the options in `bits`, space-separated.
std::string optionNames(unsigned bits, bool withValueOnly) {
  std::string out;
  for (const OptionSpec& o : kOptions) {
    if ((o.bit & bits) == 0 || (withValueOnly && o.value == ValueKind::None)) continue;
    out += std::string(out.empty() ? "" : withValueOnly ? "|" : " ") + o.name;
    if (o.shortName != nullptr && !withValueOnly) out += std::string(" ") + o.shortName;
  }
  return out;
}

// The body of a command's branch: its options, whether a DIR follows, and
// for help the commands as its topic.
std::string branchBody(unsigned options, Operand operand, const std::string& commands) {
  std::string body = "options='" + optionNames(kGlobalOptions | options, false) + "'";
  if (operand == Operand::None) body += "; dir=0";
  if (operand == Operand::Topic) {
    body += "\n      [[ $cur == -* ]] || { COMPREPLY=($(compgen -W '" + commands +
            "' -- \"$cur\")); return; }";
  }
  return body;
}

}  // namespace

void printBashCompletion() {
  std::string commands;
  for (const CommandSpec& c : kCommands)
    commands += std::string(commands.empty() ? "" : " ") + c.name;
  // Before a command: the global options, or a command; help's branch is
  // the same, and commands with the same branch share one.
  struct Branch {
    std::string patterns;
    std::string body;
  };
  std::vector<Branch> branches = {{"*", branchBody(0, Operand::Topic, commands)}};
  for (const CommandSpec& c : kCommands) {
    const std::string body = branchBody(c.allowed, c.operand, commands);
    auto same = std::find_if(branches.begin(), branches.end(),
                             [&body](const Branch& branch) { return branch.body == body; });
    if (same == branches.end()) {
      branches.insert(branches.end() - 1, Branch{c.name, body});
    } else if (same->patterns.back() == '*') {
      same->patterns.insert(same->patterns.size() - 1, std::string(c.name) + "|");
    } else {
      same->patterns += std::string("|") + c.name;
    }
  }
  // --host, the one option whose value is completed, has a branch of its own.
  std::string valued = optionNames(~0u & ~kHost, true);
  std::string out =
      "# bash completion for icl(1), made by the tool from its own command table.\n"
      "_icl() {\n"
      "  local cur=${COMP_WORDS[COMP_CWORD]} prev=${COMP_WORDS[COMP_CWORD-1]}\n"
      "  local command='' i\n"
      "  for ((i = 1; i < COMP_CWORD; i++)); do\n"
      "    case ${COMP_WORDS[i]} in\n"
      "      " +
      valued +
      "|--host) ((i++)) ;;\n"
      "      -*) ;;\n"
      "      *) command=${COMP_WORDS[i]}; break ;;\n"
      "    esac\n"
      "  done\n"
      "  case $prev in\n"
      "    --host) COMPREPLY=($(compgen -A hostname -- \"$cur\")); return ;;\n"
      "    " +
      valued +
      ") COMPREPLY=(); return ;;\n"
      "  esac\n"
      "  local options dir=1\n"
      "  case $command in\n";
  for (const Branch& b : branches) out += "    " + b.patterns + ") " + b.body + " ;;\n";
  out +=
      "  esac\n"
      "  if [[ $cur == -* ]]; then\n"
      "    COMPREPLY=($(compgen -W \"$options\" -- \"$cur\"))\n"
      "  elif ((dir)); then\n"
      "    compopt -o filenames 2>/dev/null\n"
      "    COMPREPLY=($(compgen -d -- \"$cur\"))\n"
      "  fi\n"
      "}\n"
      "complete -F _icl icl\n";
  write(Stream::Out, out);
}

}  // namespace tool
}  // namespace icl
