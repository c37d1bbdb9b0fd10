// No lost updates: many writers adding and removing their own access paths
// on one label at the same moment, while readers read it, as processes and
// as threads of one process.

#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <map>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "ICLRoutines.h"
#include "LogCapture.h"
#include "TempDir.h"
#include "ZUPIFileOpen.h"

namespace icl {
namespace test {
namespace {

const int kWriters = 8;
const int kFirstPath = 101;

// Child exit codes, so a failure says what went wrong.
enum Outcome {
  kOk = 0,
  kAddFailed = 10,
  kAddLost = 11,
  kRemoveFailed = 12,
  kRemoveLost = 13,
  kFinalAddFailed = 14,
  kReadFailed = 20,
};

// One writer's rounds: add its access path, see it listed, remove it, see
// it gone; at the end add it for good. Odd writers add through CheckICL.
int writerRounds(const std::string& dir, int accessPath, int rounds) {
  ICLController controller("host", dir.c_str());
  const ICLData identity = {3, 7, 77, accessPath};
  for (int round = 0; round < rounds; ++round) {
    controller.SetICLData(identity);
    int added = accessPath % 2 != 0 ? controller.CheckICL() : controller.UpdateICL(false);
    if (added != 0) return kAddFailed;
    ICLData found;
    if (controller.InternalReadDataFromICL(found) != 0 || found.accessPathID != accessPath) {
      return kAddLost;
    }
    if (controller.RemoveAccessPathIDfromICL() != 0) return kRemoveFailed;
    if (controller.InternalReadDataFromICL(found) != 0 || found.accessPathID != 0) {
      return kRemoveLost;
    }
  }
  controller.SetICLData(identity);
  return controller.UpdateICL(false) == 0 ? kOk : kFinalAddFailed;
}

// Reads until `stop` says so; every read must find a whole, valid label.
int readerLoop(const std::string& dir, const std::function<bool()>& stop) {
  ICLController controller("reader", dir.c_str());
  int reads = 0;
  while (!stop() || reads == 0) {
    if (controller.ReadDataFromICL() != 0) return kReadFailed;
    ICLData data;
    controller.GetICLData(data);
    if (data.indexCachePoolID != 3 || data.indexCacheID != 7 || data.timeStampMarker != 77) {
      return kReadFailed;
    }
    ++reads;
  }
  return kOk;
}

// How often each access path id is listed in the label.
std::map<int, int> listedAccessPaths(const std::string& labelPath) {
  std::map<int, int> listed;
  ZUPITextFileOpen label(labelPath.c_str(), nullptr, true);
  while (!label.isEof()) {
    char normalised[1023];
    sanitizeString(normalised, label.readln(), sizeof normalised);
    int id = 0;
    if (sscanf(normalised, "USED_BY_ACCESSPATHID:%d", &id) == 1) ++listed[id];
  }
  return listed;
}

std::map<int, int> everyWriterOnce() {
  std::map<int, int> expected;
  expected[1] = 1;
  for (int i = 0; i < kWriters; ++i) expected[kFirstPath + i] = 1;
  return expected;
}

void writeStartingLabel(const TempDir& dir) {
  ICLController first("host", dir.path().c_str());
  first.SetICLData(ICLData{3, 7, 77, 1});
  ASSERT_EQ(first.WriteNewICL(), 0);
}

TEST(LabelConcurrency, ProcessesReleasedTogetherLoseNoUpdate) {
  TempDir dir;
  writeStartingLabel(dir);
  const std::string stopFile = dir.file("stop");
  int gate[2];
  ASSERT_EQ(pipe(gate), 0);

  auto spawn = [&gate](const std::function<int()>& body) {
    pid_t pid = fork();
    if (pid == 0) {
      close(gate[1]);
      char byte;
      while (read(gate[0], &byte, 1) > 0) {
      }  // released when the parent closes its end
      LogCapture quiet;  // failures are reported by exit code
      _exit(body());
    }
    return pid;
  };
  std::vector<pid_t> writers;
  for (int i = 0; i < kWriters; ++i) {
    writers.push_back(spawn([&dir, i] { return writerRounds(dir.path(), kFirstPath + i, 150); }));
  }
  std::vector<pid_t> readers;
  for (int i = 0; i < 2; ++i) {
    readers.push_back(spawn([&dir, &stopFile] {
      return readerLoop(dir.path(), [&stopFile] { return fileExists(stopFile); });
    }));
  }
  close(gate[0]);
  close(gate[1]);

  for (pid_t pid : writers) {
    int status = 0;
    ASSERT_EQ(waitpid(pid, &status, 0), pid);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == kOk)
        << "writer exit " << (WIFEXITED(status) ? WEXITSTATUS(status) : -1);
  }
  writeFile(stopFile, "");
  for (pid_t pid : readers) {
    int status = 0;
    ASSERT_EQ(waitpid(pid, &status, 0), pid);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == kOk)
        << "reader exit " << (WIFEXITED(status) ? WEXITSTATUS(status) : -1);
  }
  EXPECT_EQ(listedAccessPaths(dir.file("icl_label.txt")), everyWriterOnce());
}

TEST(LabelConcurrency, ThreadsWithTheirOwnControllersLoseNoUpdate) {
  TempDir dir;
  writeStartingLabel(dir);
  LogCapture log;
  std::atomic<bool> stop{false};
  std::vector<int> outcomes(kWriters + 2, -1);
  std::vector<std::thread> threads;
  for (int i = 0; i < kWriters; ++i) {
    threads.emplace_back([&dir, &outcomes, i] {
      outcomes[static_cast<size_t>(i)] = writerRounds(dir.path(), kFirstPath + i, 60);
    });
  }
  for (int i = 0; i < 2; ++i) {
    threads.emplace_back([&dir, &outcomes, &stop, i] {
      outcomes[static_cast<size_t>(kWriters + i)] =
          readerLoop(dir.path(), [&stop] { return stop.load(); });
    });
  }
  for (int i = 0; i < kWriters; ++i) threads[static_cast<size_t>(i)].join();
  stop.store(true);
  for (size_t i = kWriters; i < threads.size(); ++i) threads[i].join();
  EXPECT_EQ(outcomes, std::vector<int>(kWriters + 2, kOk));
  EXPECT_EQ(listedAccessPaths(dir.file("icl_label.txt")), everyWriterOnce());
  EXPECT_TRUE(log.lines(EV_LOG_ERROR).empty());
}

}  // namespace
}  // namespace test
}  // namespace icl
