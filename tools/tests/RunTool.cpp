#include "RunTool.h"

#include <fcntl.h>
#include <stdio.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

namespace icl {
namespace test {
namespace {

std::string readAll(FILE* file) {
  std::string text;
  rewind(file);
  char buffer[4096];
  size_t n;
  while ((n = fread(buffer, 1, sizeof buffer, file)) > 0) text.append(buffer, n);
  return text;
}

}  // namespace

ToolRun runTool(const std::vector<std::string>& args, const std::string& stdoutPath) {
  ToolRun run{-1, "", ""};
  // Files rather than pipes: nothing can block however much the tool writes.
  FILE* out = tmpfile();
  FILE* err = tmpfile();
  if (out == nullptr || err == nullptr) {
    ADD_FAILURE() << "tmpfile failed";
    if (out != nullptr) fclose(out);
    if (err != nullptr) fclose(err);
    return run;
  }
  std::vector<char*> argv;
  argv.push_back(const_cast<char*>(ICL_TOOL_PATH));
  for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
  argv.push_back(nullptr);

  fflush(nullptr);
  pid_t pid = fork();
  if (pid == 0) {
    int outFd = stdoutPath.empty() ? fileno(out) : open(stdoutPath.c_str(), O_WRONLY);
    if (outFd < 0 || dup2(outFd, 1) < 0 || dup2(fileno(err), 2) < 0) _exit(126);
    execv(argv[0], argv.data());
    _exit(127);
  }
  int status = 0;
  if (pid < 0 || waitpid(pid, &status, 0) != pid) {
    ADD_FAILURE() << "could not run " << ICL_TOOL_PATH;
  } else {
    run.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  }
  run.out = readAll(out);
  run.err = readAll(err);
  fclose(out);
  fclose(err);
  return run;
}

std::vector<std::string> linesOf(const std::string& text) {
  std::vector<std::string> lines;
  size_t start = 0;
  while (start < text.size()) {
    size_t end = text.find('\n', start);
    if (end == std::string::npos) end = text.size();
    lines.push_back(text.substr(start, end - start));
    start = end + 1;
  }
  return lines;
}

}  // namespace test
}  // namespace icl
