// The bash completion script, rendered from the command table at build
// time: commands, each command's options, directories for DIR and host
// names for --host.

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

}  // namespace

void printBashCompletion() {
  std::string commands;
  for (const CommandSpec& c : kCommands)
    commands += std::string(commands.empty() ? "" : " ") + c.name;
  const std::string valued = optionNames(~0u, true);
  std::string out =
      "# bash completion for icl(1), made by the tool from its own command table.\n"
      "_icl() {\n"
      "  local cur=${COMP_WORDS[COMP_CWORD]} prev=${COMP_WORDS[COMP_CWORD-1]}\n"
      "  local command='' i\n"
      "  for ((i = 1; i < COMP_CWORD; i++)); do\n"
      "    case ${COMP_WORDS[i]} in\n"
      "      " +
      valued +
      ") ((i++)) ;;\n"
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
  for (const CommandSpec& c : kCommands) {
    out += "    " + std::string(c.name) + ") options='" +
           optionNames(kGlobalOptions | c.allowed, false) + "'";
    if (c.operand == Operand::None) out += "; dir=0";
    if (c.operand == Operand::Topic) {
      out += "\n      [[ $cur == -* ]] || { COMPREPLY=($(compgen -W '" + commands +
             "' -- \"$cur\")); return; }";
    }
    out += " ;;\n";
  }
  out += "    *) options='" + optionNames(kGlobalOptions, false) +
         "'\n"
         "      [[ $cur == -* ]] || { COMPREPLY=($(compgen -W '" +
         commands +
         "' -- \"$cur\")); return; } ;;\n"
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
