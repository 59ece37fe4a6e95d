#include "ui/progress_tick.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <functional>
#include <string>
#include <vector>

#include <unistd.h>

#include "base/platform.h"
#include "package/file_writer.h"
#include "tests/support/fault_injection.h"

namespace {

constexpr int32_t kRetry = 4;  // IDRETRY

struct TestFile {
  uint32_t size;
  bool open;  // false: the file existed already, nothing to write
};

// A set over temporary files (natively a handle is a FILE*), with chunks of
// 1000 bytes so that a few thousand bytes take several ticks.
struct TickSet {
  FileSet set{nullptr, 0, -1, 1000, 0, nullptr};
  std::vector<std::FILE*> files;
  std::vector<std::string> contents;
  explicit TickSet(const std::vector<TestFile>& plan) {
    set.items = static_cast<FileItem*>(
        platform::AllocBlock(static_cast<uint32_t>(plan.size() * sizeof(FileItem)), kBlockZeroed));
    for (const TestFile& f : plan) {
      FileItem& item = set.items[set.count];
      std::snprintf(item.path, sizeof item.path, "C:\\Installer\\{P}\\file%d.cab", set.count);
      ++set.count;
      std::string content(f.size, '\0');
      for (uint32_t i = 0; i < f.size; ++i) content[i] = static_cast<char>(i * 13 + set.count);
      item.data = static_cast<uint8_t*>(platform::AllocBlock(f.size ? f.size : 1, 0));
      std::copy(content.begin(), content.end(), item.data);
      item.size = f.size;
      // Natively a backslash is a plain character: the Windows-looking path
      // is one file name in the current folder, which the writer holds by.
      std::FILE* file = f.open ? std::fopen(item.path, "w+b") : nullptr;
      item.handle = file;
      files.push_back(file);
      contents.push_back(content);
    }
  }
  ~TickSet() {
    ReleaseFileSet(&set);
    for (size_t i = 0; i < files.size(); ++i)
      std::remove(("C:\\Installer\\{P}\\file" + std::to_string(i) + ".cab").c_str());
  }
};

// Runs ticks as the window would, answering boxes from `answers` in turn,
// and describes each decision: "Rearm 40", "Ask 40 <text>", "End 1 100".
std::vector<std::string> RunTicks(FileSet* set, std::vector<int32_t> answers) {
  std::vector<std::string> trace;
  ProgressDecision decision;
  for (int ticks = 0; ticks < 50; ++ticks) {
    DecideProgressTick(set, &decision);
    const std::string shown = std::to_string(decision.percentage);
    if (decision.step == ProgressStep::Ask) {
      trace.push_back("Ask " + shown + " " + decision.text);
      const int32_t answer = answers.empty() ? kRetry : answers.front();
      if (!answers.empty()) answers.erase(answers.begin());
      DecideBoxAnswer(answer, &decision);
      if (decision.step == ProgressStep::End) {
        trace.push_back("End " + std::to_string(decision.result));
        return trace;
      }
      EXPECT_EQ(decision.step, ProgressStep::Rearm);
      continue;
    }
    if (decision.step == ProgressStep::End) {
      trace.push_back("End " + std::to_string(decision.result) + " " + shown);
      return trace;
    }
    trace.push_back("Rearm " + shown);
  }
  return trace;
}

// Writes at most 500 bytes of what it is asked, and says it succeeded.
int ShortWrite(void* handle, const uint8_t* data, uint32_t size, uint32_t* written) {
  return kPlatformDefaults.WriteFileBytes(handle, data, size < 500 ? size : 500, written);
}

TEST(ProgressTickTest, Runs) {
  const std::string failed0 = "Ask 40 Error 29 (C:\\Installer\\{P}\\file0.cab).";
  struct Case {
    const char* name;
    std::function<void()> arrange;
    std::vector<int32_t> answers;
    std::vector<std::string> trace;
    bool complete;  // every open file holds its whole content
  } cases[] = {
      {"a file, one that existed, an empty one", [] {}, {},
       {"Rearm 0", "Rearm 40", "Rearm 80", "Rearm 100", "Rearm 0", "Rearm 0", "End 1 100"}, true},
      {"a failed write, retried", [] { FailPlatformCall("WriteFileBytes", 2, 112); }, {kRetry},
       {"Rearm 0", "Rearm 40", failed0, "Rearm 80", "Rearm 100", "Rearm 0", "Rearm 0", "End 1 100"}, true},
      {"a failed write, cancelled", [] { FailPlatformCall("WriteFileBytes", 2, 112); }, {kBoxAnswerCancel},
       {"Rearm 0", "Rearm 40", failed0, "End 2"}, false},
      {"a box nobody could see", [] { FailPlatformCall("WriteFileBytes", 2, 112); }, {0},
       {"Rearm 0", "Rearm 40", failed0, "End 2"}, false},
      {"short writes continue where they stopped", [] { gPlatform.WriteFileBytes = ShortWrite; },
       {kRetry, kRetry, kRetry, kRetry},
       {"Rearm 0", "Ask 20 Error 29 (C:\\Installer\\{P}\\file0.cab).",
        "Ask 40 Error 29 (C:\\Installer\\{P}\\file0.cab).", "Ask 60 Error 29 (C:\\Installer\\{P}\\file0.cab).",
        "Ask 80 Error 29 (C:\\Installer\\{P}\\file0.cab).", "Rearm 100", "Rearm 0", "Rearm 0", "End 1 100"},
       true},
  };
  for (const Case& c : cases) {
    ScopedPlatformReset reset;
    TickSet files({{2500, true}, {10, false}, {0, true}});
    c.arrange();
    // A duplicate outlives the writer's fclose, so the content can be read
    // back once the set is released (which flushes what is still open).
    std::FILE* reader = fdopen(dup(fileno(files.files[0])), "rb");
    EXPECT_EQ(RunTicks(&files.set, c.answers), c.trace) << c.name;
    ReleaseFileSet(&files.set);
    std::rewind(reader);  // the duplicate shares the writer's file position
    std::string written(4000, '\0');
    written.resize(std::fread(&written[0], 1, written.size(), reader));
    std::fclose(reader);
    if (c.complete)
      EXPECT_EQ(written, files.contents[0]) << c.name;
    else
      EXPECT_EQ(written, files.contents[0].substr(0, 1000)) << c.name;
  }
}

TEST(ProgressTickTest, TimerFailures) {
  struct Case {
    uint32_t lastError;
    const char* text;
  } cases[] = {
      {1816, "Error 1816"},  // ERROR_NOT_ENOUGH_QUOTA
      {0, "Error 8"},        // no last error: not "the operation completed successfully"
  };
  for (const Case& c : cases) {
    ProgressDecision decision;
    DecideTimerFailure(c.lastError, &decision);
    EXPECT_EQ(decision.step, ProgressStep::Ask);
    EXPECT_STREQ(decision.text, c.text);
    DecideBoxAnswer(kRetry, &decision);
    EXPECT_EQ(decision.step, ProgressStep::Rearm);
  }
}

}  // namespace
