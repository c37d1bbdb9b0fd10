#include "Help.h"

#include <algorithm>

#include "HelpText.h"
#include "output/Json.h"
#include "output/Output.h"
#include "output/Report.h"

namespace icl {
namespace tool {
namespace {

const size_t kOptionColumn = 21;  // where an option's text starts

void put(const std::string& text) { write(Stream::Out, text); }

// `text` with every line after the first indented by `indent` spaces.
std::string continued(const std::string& text, size_t indent) {
  std::string out;
  for (char c : text) {
    out += c;
    if (c == '\n') out.append(indent, ' ');
  }
  return out;
}

std::string indented(const std::string& text, size_t indent) {
  return std::string(indent, ' ') + continued(text, indent);
}

std::string column(const std::string& left, const std::string& right) {
  std::string line = "  " + left;
  line.append(line.size() < kOptionColumn ? kOptionColumn - line.size() : 1, ' ');
  return line + continued(right, kOptionColumn) + "\n";
}

std::string optionList(const std::vector<OptionHelp>& options) {
  std::string out;
  for (const OptionHelp& o : options) out += column(o.flags, o.text);
  return out;
}

std::string exampleList(const CommandHelp& command) {
  std::string out;
  for (const ExampleHelp& e : command.examples) {
    out += "  " + std::string(e.what) + ":\n      " + continued(e.line, 6) + "\n";
  }
  return out;
}

// "show DIR", "help [COMMAND]": the usage up to its first option.
std::string shortUsage(const CommandHelp& command) {
  const std::string usage = std::string(command.usage).substr(4);  // after "icl "
  return usage.substr(0, std::min(usage.find(" --"), usage.find(" [--")));
}

void printToolHelp() {
  const ToolHelp& tool = toolHelp();
  put(std::string(tool.name) + " - " + tool.purpose + "\n\n" + tool.intro + "\n\n");
  for (size_t i = 0; i < tool.synopsis.size(); ++i) {
    put((i == 0 ? "Usage: " : "       ") + std::string(tool.synopsis[i]) + "\n");
  }
  put("\nCommands:\n");
  for (const CommandHelp& c : commandHelp()) put(column(shortUsage(c), c.summary));
  put("\nGlobal options:\n" + optionList(tool.globalOptions) + "\n" + tool.values + "\n");
  put("\nExamples:\n");
  for (const CommandHelp& c : commandHelp()) put(exampleList(c));
  for (const Section& s : tool.closing) {
    put("\n" + std::string(s.title) + ":\n" + indented(s.text, 2) + "\n");
  }
  put("\nFiles, beside the label in DIR:\n");
  for (const FileHelp& f : tool.files) {
    put("  " + std::string(f.name) + "\n" + indented(f.text, 6) + "\n");
  }
  put("\nSee also:\n" + indented(tool.seeAlso, 2) + "\n");
}

}  // namespace

void printHelp(const std::string& command) {
  const CommandHelp* help = findCommandHelp(command);
  if (help == nullptr) {
    printToolHelp();
    return;
  }
  put("Usage: " + continued(help->usage, 7) + "\n\n" + help->about + "\n");
  if (!help->options.empty()) put("\nOptions:\n" + optionList(help->options));
  put("\nExamples:\n" + exampleList(*help));
  put("\nGlobal options, before or after the command:\n" + optionList(toolHelp().globalOptions));
}

void printUsageError(const Invocation& inv, const std::string& error) {
  const CommandHelp* help = findCommandHelp(inv.command);
  const std::string usage = help != nullptr ? help->usage : toolHelp().synopsis[0];
  if (inv.json) {
    JsonObject out;
    out.addInt("schema", kJsonSchema);
    if (help != nullptr) {
      out.addString("command", help->name);
    } else {
      out.addNull("command");
    }
    std::string oneLine;
    for (char c : usage) {
      if (c != '\n' && (c != ' ' || oneLine.empty() || oneLine.back() != ' ')) oneLine += c;
      if (c == '\n') oneLine += ' ';
    }
    out.addBool("ok", false)
        .addJson("error", errorJson("USAGE", std::nullopt, std::nullopt, error))
        .addString("usage", oneLine);
    put(out.str() + "\n");
    return;
  }
  const std::string who = help != nullptr ? "icl " + std::string(help->name) : "icl";
  writeLine(Stream::Err, who + ": " + error);
  write(Stream::Err, "Usage: " + continued(usage, 7) + "\n");
  write(Stream::Err, help != nullptr ? "Run '" + who + " --help' for more.\n"
                                     : "Run 'icl --help' for the commands.\n");
}

}  // namespace tool
}  // namespace icl
