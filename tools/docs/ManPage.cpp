// icl.1, rendered from the help texts at build time.

#include <ctype.h>

#include "Help.h"
#include "HelpText.h"
#include "output/Output.h"

namespace icl {
namespace tool {
namespace {

void put(const std::string& text) { write(Stream::Out, text); }

// `text` as roff input: backslashes and hyphens escaped, and no line that
// starts as a request.
std::string roff(const std::string& text) {
  std::string out;
  bool lineStart = true;
  for (char c : text) {
    if (lineStart && (c == '.' || c == '\'')) out += "\\&";
    lineStart = c == '\n';
    if (c == '\\') {
      out += "\\e";
    } else if (c == '-') {
      out += "\\-";
    } else {
      out += c;
    }
  }
  return out;
}

// Blank lines between paragraphs become paragraph breaks.
std::string paragraphs(const std::string& text) {
  std::string out = roff(text);
  for (size_t at; (at = out.find("\n\n")) != std::string::npos;) out.replace(at, 2, "\n.PP\n");
  return out + "\n";
}

// "--pool ID": option names bold, their values italic.
std::string flags(const std::string& text) {
  std::string out;
  size_t start = 0;
  while (start < text.size()) {
    size_t end = text.find(' ', start);
    if (end == std::string::npos) end = text.size();
    std::string word = text.substr(start, end - start);
    const bool comma = !word.empty() && word.back() == ',';
    if (comma) word.pop_back();
    out += (word[0] == '-' ? "\\fB" : "\\fI") + roff(word) + "\\fR" + (comma ? "," : "") +
           (end < text.size() ? " " : "");
    start = end + 1;
  }
  return out;
}

void putOptions(const std::vector<OptionHelp>& options) {
  for (const OptionHelp& o : options) put(".TP\n" + flags(o.flags) + "\n" + roff(o.text) + "\n");
}

std::string upper(std::string text) {
  for (char& c : text) c = static_cast<char>(toupper(static_cast<unsigned char>(c)));
  return text;
}

}  // namespace

void printManPage() {
  const ToolHelp& tool = toolHelp();
  put(".TH " + upper(tool.name) + " 1 \"\" \"icl " ICL_TOOL_VERSION "\" \"User Commands\"\n");
  put(".SH NAME\n" + std::string(tool.name) + " \\- " + roff(tool.purpose) + "\n");
  put(".SH SYNOPSIS\n.nf\n");
  for (const char* line : tool.synopsis) put(roff(line) + "\n");
  put(".fi\n.SH DESCRIPTION\n" + paragraphs(tool.intro));
  put(".SH COMMANDS\n");
  for (const CommandHelp& c : commandHelp()) {
    put(".SS " + std::string(c.name) + "\n.nf\n" + roff(c.usage) + "\n.fi\n.PP\n" +
        paragraphs(c.about));
    putOptions(c.options);
    put(".PP\n\\fIExamples\\fR\n");
    for (const ExampleHelp& e : c.examples) {
      put(".PP\n" + roff(e.what) + ":\n.RS 4\n.nf\n\\fB" + roff(e.line) + "\\fR\n.fi\n.RE\n");
    }
  }
  put(".SH GLOBAL OPTIONS\n");
  putOptions(tool.globalOptions);
  put(".PP\n" + paragraphs(tool.values));
  for (const Section& s : tool.closing) put(".SH " + upper(s.title) + "\n" + paragraphs(s.text));
  put(".SH FILES\nBeside the label, in \\fIDIR\\fR:\n");
  for (const FileHelp& f : tool.files) {
    put(".TP\n\\fIDIR\\fR/\\fB" + roff(f.name) + "\\fR\n" + roff(f.text) + "\n");
  }
  put(".SH SEE ALSO\n" + paragraphs(tool.seeAlso));
}

}  // namespace tool
}  // namespace icl
