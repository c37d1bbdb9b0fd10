#include "Report.h"

#include <errno.h>
#include <stdarg.h>
#include <stdio.h>
#include <string.h>
#include <sys/stat.h>

#include "Output.h"

namespace icl {
namespace tool {
namespace {

struct ErrorText {
  const char* name;
  const char* meaning;  // for the operator
};

// Indexed by TICLError.
const ErrorText kErrors[] = {
    {"ICL_ERROR_NONE", "failed without an error code"},
    {"ICL_ERROR_RESERVED_1", "reserved error 1"},
    {"ICL_ERROR_RESERVED_2", "reserved error 2"},
    {"ICL_ERROR_PATH_NOT_FOUND", "not an existing directory"},
    {"ICL_ERROR_EMPTY_PATH", "no usable directory (empty, or longer than 255 characters)"},
    {"ICL_ERROR_FILE_NOT_FOUND", "no label: the directory holds no icl_label.txt"},
    {"ICL_ERROR_FILE_READ", "the label could not be loaded"},
    {"ICL_ERROR_FILE_INVALID",
     "the label is invalid: a required key is missing, or it is too large"},
    {"ICL_ERROR_MISMATCH", "the label names another pool, index cache or marker"},
    {"ICL_ERROR_OUT_OF_MEMORY", "out of memory"},
    {"ICL_ERROR_FILE_WRITE", "a label or test file could not be written"},
    {"ICL_ERROR_NEW_LABEL_NOT_ALLOWED", "there is no usable label and a new one was not allowed"},
    {"ICL_ERROR_FILE_LOCK", "the writers' lock or claim could not be taken"},
    {"ICL_ERROR_LOCK_NOT_SUPPORTED", "file locks are not supported in the directory"},
    {"ICL_ERROR_CHMOD", "a test file's permissions could not be changed"},
    {"ICL_ERROR_CHOWN", "a test file's owner could not be read or changed"},
};

const ErrorText* errorText(TICLError error) {
  if (error >= 0 && error < static_cast<int>(sizeof kErrors / sizeof kErrors[0])) {
    return &kErrors[error];
  }
  return nullptr;
}

// What keeps `dir` from being a directory, in the words of stat.
std::string whyNoDirectory(const std::string& dir) {
  struct stat st;
  if (stat(convertSlashes(dir.c_str()).c_str(), &st) != 0) {
    const int err = errno;
    return err == ENOENT ? "no such directory" : strerror(err);
  }
  return S_ISDIR(st.st_mode) ? kErrors[ICL_ERROR_PATH_NOT_FOUND].meaning : "not a directory";
}

}  // namespace

std::string format(const char* fmt, ...) {
  va_list args;
  va_start(args, fmt);
  va_list again;
  va_copy(again, args);
  int n = vsnprintf(nullptr, 0, fmt, args);
  va_end(args);
  std::string out;
  if (n > 0) {
    out.resize(static_cast<size_t>(n) + 1);
    vsnprintf(&out[0], out.size(), fmt, again);
    out.resize(static_cast<size_t>(n));
  }
  va_end(again);
  return out;
}

std::string errorJson(const std::string& name, std::optional<int> code,
                      std::optional<std::string> event, const std::string& message) {
  JsonObject error;
  error.addString("name", name);
  if (code) {
    error.addInt("code", *code);
  } else {
    error.addNull("code");
  }
  if (event) {
    error.addString("event", *event);
  } else {
    error.addNull("event");
  }
  return error.addString("message", message).str();
}

Report::Report(const std::string& command, std::optional<std::string> dir, bool json, bool quiet,
               const LogLines& log)
    : command_(command), dir_(std::move(dir)), json_(json), quiet_(quiet), log_(log) {}

void Report::fail(ICLController& controller) { fail(controller, controller.GetICLError()); }

void Report::fail(ICLController& controller, TICLError error, const std::string& meaning) {
  const ErrorText* text = errorText(error);
  const std::string name = text != nullptr ? text->name : "unknown error";
  const std::string event =
      format("0x%08X", static_cast<unsigned>(controller.convertICLErrorToEvEventCode(error)));
  std::string said = !meaning.empty() ? meaning : text != nullptr ? text->meaning : "";
  if (meaning.empty() && error == ICL_ERROR_PATH_NOT_FOUND && dir_) said = whyNoDirectory(*dir_);
  const LogLine* unexamined = log_.firstError("ICLController::DoesPathExist");
  if (error == ICL_ERROR_FILE_READ && unexamined != nullptr) {
    const std::string reason = loggedReason(unexamined->message);
    said = "the directory could not be examined" + (reason.empty() ? "" : ": " + reason);
  }
  ok_ = false;
  failure_ = format("%s (%d), event code %s: %s", name.c_str(), static_cast<int>(error),
                    event.c_str(), said.c_str());
  error_ = errorJson(name, error, event, failure_);
}

void Report::incomplete(const std::string& meaning, const std::vector<std::string>& details) {
  ok_ = false;
  partial_ = true;
  failure_ = "INCOMPLETE: " + meaning;
  error_ = errorJson("INCOMPLETE", std::nullopt, std::nullopt, failure_);
  details_ = details;
}

int Report::print() const {
  if (json_) {
    JsonObject out;
    out.addInt("schema", kJsonSchema).addString("command", command_);
    if (dir_) out.addString("dir", *dir_);
    out.addBool("ok", ok_).addAll(values_);
    if (!ok_) {
      std::vector<std::string> messages;
      for (const LogLine& line : log_.errors()) {
        messages.push_back(JsonObject()
                               .addString("function", line.function)
                               .addString("message", line.message)
                               .str());
      }
      out.addJson("error", error_).addJson("libraryErrors", jsonArray(messages));
    }
    write(Stream::Out, out.str() + "\n");
    return ok_ ? 0 : 1;
  }
  const std::string where = "icl " + command_ + ": " + (dir_ ? *dir_ + ": " : "");
  if (!quiet_) {
    for (const std::string& line : notes_) writeLine(Stream::Err, where + line);
  }
  if (ok_) {
    for (const std::string& line : lines_) writeLine(Stream::Out, line);
    return 0;
  }
  for (const std::string& line : lines_) {
    if (partial_) writeLine(Stream::Out, line);
  }
  writeLine(Stream::Err, where + failure_);
  for (const std::string& line : partial_ ? details_ : lines_) writeLine(Stream::Err, "  " + line);
  if (!log_.verbose()) {  // with -v they were shown as they came
    for (const LogLine& line : log_.errors()) {
      writeLine(Stream::Err, "  library: " + line.function + ": " + line.message);
    }
  }
  if (quiet_) return 1;
  for (const std::string& line : hints_) writeLine(Stream::Err, "  " + line);
  if (!log_.verbose()) writeLine(Stream::Err, "  (run again with -v for the library's full log)");
  return 1;
}

}  // namespace tool
}  // namespace icl
