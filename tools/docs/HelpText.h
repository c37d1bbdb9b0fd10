#ifndef ICL_TOOLS_DOCS_HELPTEXT_H
#define ICL_TOOLS_DOCS_HELPTEXT_H

// The tool's help texts, as data: `icl --help`, `icl COMMAND --help` and
// the manual page icl.1 are all rendered from them, so they never disagree.
// Texts are lines of at most 80 columns joined by '\n'; a blank line
// separates paragraphs.

#include <string>
#include <vector>

namespace icl {
namespace tool {

struct OptionHelp {
  const char* flags;  // "--pool ID", "-v, --verbose"
  const char* text;   // lines after the first are continuation lines
};

struct ExampleHelp {
  const char* line;  // the command as typed, from "icl"; '\\' and '\n' continue it
  const char* what;  // what it does, a sentence without its stop
};

struct CommandHelp {
  const char* name;
  const char* usage;    // from "icl"; a second line continues it
  const char* summary;  // one line, for the list of commands
  const char* about;
  std::vector<OptionHelp> options;  // its own, not the global ones
  std::vector<ExampleHelp> examples;
};

struct Section {
  const char* title;
  const char* text;
};

// A file the library keeps in an index cache directory.
struct FileHelp {
  const char* name;  // in DIR; '*' and upper-case words stand for any text
  const char* text;  // what it is for, and when an operator may remove it
};

struct ToolHelp {
  const char* name;  // "icl"
  const char* purpose;
  const char* intro;
  std::vector<const char*> synopsis;  // from "icl"
  std::vector<OptionHelp> globalOptions;
  const char* values;            // how option values are written
  std::vector<Section> closing;  // exit status, output, environment
  std::vector<FileHelp> files;   // beside the label
  const char* seeAlso;
};

const ToolHelp& toolHelp();
const std::vector<CommandHelp>& commandHelp();
// Null for an unknown command.
const CommandHelp* findCommandHelp(const std::string& name);

}  // namespace tool
}  // namespace icl

#endif
