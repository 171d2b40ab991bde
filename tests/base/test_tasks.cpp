// The worker: the dispatch table and its completion codes, one task at a time, the stop
// flag, and the kill that abandons a task without letting it reach the next file's state.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "base/host.h"
#include "base/messages.h"
#include "base/tasks.h"
#include "check/file_state.h"
#include "check/index.h"
#include "fixtures/avi_builder.h"
#include "fixtures/test_host.h"
#include "riff/blocks.h"
#include "riff/source.h"

namespace {

using namespace std::chrono_literals;

// One host for the whole program: an abandoned worker may still be running after its test.
rvt::RecordingHost& TestHost() {
  static rvt::RecordingHost* host = new rvt::RecordingHost;
  return *host;
}

// Waits until pred holds; false on timeout.
template <typename Pred>
bool Eventually(Pred pred, std::chrono::milliseconds timeout = 10s) {
  const auto until = std::chrono::steady_clock::now() + timeout;
  while (!pred()) {
    if (std::chrono::steady_clock::now() > until) return false;
    std::this_thread::sleep_for(1ms);
  }
  return true;
}

class TaskTest : public ::testing::Test {
 protected:
  void SetUp() override {
    TestHost().Clear();
    rv::SetHost(&TestHost());
    rv::ClearStop();
  }
  void TearDown() override {
    if (rv::WorkerExists()) {
      // Leave no running worker to the next test.
      rv::RequestStop();
      if (TestHost().WaitDone(TestHost().Done().size() + 1, 5s))
        rv::FinishWorker();
      else
        rv::KillWorker();
    }
    for (const char* name : rv::kTaskNames) rv::SetTaskRoutine(name, {});
    rv::ClearStop();
    rv::SetHost(nullptr);  // back to the silent host
  }

  // Installs the routine and starts it on the worker.
  void Start(const char* name, rv::TaskRoutine routine) {
    rv::SetTaskRoutine(name, std::move(routine));
    rv::TaskCommand() = name;
    ASSERT_TRUE(rv::threadIDX1Start());
  }
  // Starts the named task and waits for its completion.
  std::pair<int, int> RunOnWorker(const std::string& name) {
    const size_t before = TestHost().Done().size();
    rv::TaskCommand() = name;
    EXPECT_TRUE(rv::threadIDX1Start());
    EXPECT_TRUE(TestHost().WaitDone(before + 1)) << name << " never completed";
    rv::FinishWorker();
    EXPECT_FALSE(rv::WorkerExists());
    const auto done = TestHost().Done();
    return done.size() > before ? done.back() : std::pair<int, int>{-1, -1};
  }
};

TEST_F(TaskTest, DispatchRunsTheInstalledRoutineAndGivesItsCompletion) {
  // name, completion code, whether the result follows the routine's success
  const struct {
    const char* name;
    int code;
    bool resultFollowsSuccess;
  } rows[] = {{"createIDX1", 100, true},     {"verifyIDX1", 100, true}, {"saveOUT", 0, false},
              {"reconstruction", 101, true}, {"findKK", 103, false},    {"doJOIN", 0, false},
              {"createidx1", 0, false},      {"unknown", 0, false}};
  std::atomic<bool> sawStop{false};
  for (const auto& r : rows)
    for (bool success : {true, false}) {
      const rv::Completion c = rv::CompletionFor(r.name, success);
      EXPECT_EQ(c.code, r.code) << r.name;
      EXPECT_EQ(c.result, r.resultFollowsSuccess && success ? 1 : 0) << r.name << success;
      rv::SetTaskRoutine(r.name, [&, success] {
        sawStop = sawStop || rv::StopRequested();
        return success;
      });
      rv::RequestStop();  // a stop left over from before the task
      const rv::Completion e = rv::Execute(r.name);
      EXPECT_EQ(std::pair(e.code, e.result), std::pair(c.code, c.result)) << r.name;
    }
  EXPECT_FALSE(sawStop) << "the stop flag is cleared when a task starts";
  int runs = 0;
  rv::SetTaskRoutine("reconstruction", [&] { return ++runs > 0; });
  rv::SetTaskRoutine("reconstruction", {});
  EXPECT_EQ(rv::Execute("reconstruction").code, 0) << "an empty routine removes the task";
  EXPECT_EQ(runs, 0);
}

TEST_F(TaskTest, OneWorkerAtATimeReportingThroughTheHostUntilStopped) {
  std::atomic<std::thread::id> ranOn{};
  std::atomic<bool> started{false};
  Start("reconstruction", [&] {
    ranOn = std::this_thread::get_id();
    rv::SendCheckMessage(5, 42);
    for (started = true; !rv::StopRequested();) std::this_thread::sleep_for(1ms);
    return false;  // stopped: no success
  });
  ASSERT_TRUE(Eventually([&] { return started.load(); }));
  EXPECT_FALSE(rv::threadIDX1Start()) << "a second task while one runs";
  EXPECT_FALSE(TestHost().WaitDone(1, 50ms)) << "the task ended without a stop";
  rv::RequestStop();
  ASSERT_TRUE(TestHost().WaitDone(1)) << "the stop request did not end the task";
  // The task has ended, but until the completion step frees the worker nothing may start.
  EXPECT_TRUE(rv::WorkerExists());
  EXPECT_FALSE(rv::threadIDX1Start());
  rv::FinishWorker();
  EXPECT_FALSE(rv::WorkerExists());
  EXPECT_FALSE(rv::StopRequested()) << "freeing the worker clears the stop flag";
  EXPECT_NE(ranOn.load(), std::this_thread::get_id()) << "the task runs on the worker thread";
  EXPECT_EQ(TestHost().Checks(), (std::vector<std::pair<int, int64_t>>{{5, 42}}));
  EXPECT_EQ(TestHost().Done(), (std::vector<std::pair<int, int>>{{101, 0}}));
  rv::SetTaskRoutine("verifyIDX1", [] { return false; });
  EXPECT_EQ(RunOnWorker("verifyIDX1"), (std::pair<int, int>{100, 0}));
  EXPECT_EQ(RunOnWorker("no such task"), (std::pair<int, int>{0, 0}));
}

TEST_F(TaskTest, KillAbandonsTheTaskAndANewOneCanStart) {
  rv::KillWorker();  // with no worker: nothing happens
  std::atomic<bool> started{false}, finished{false}, abandonedSeen{false};
  Start("findKK", [&] {
    rv::ReportProgress(rv::ProgressTarget::kKeyframes, 1);  // before the kill: delivered
    for (started = true; !rv::StopRequested();) std::this_thread::sleep_for(1ms);
    abandonedSeen = rv::CurrentWorkerAbandoned();
    // After the kill: every host call is dropped.
    rv::SendCheckMessage(1, 7);
    rv::ReportProgress(rv::ProgressTarget::kKeyframes, 2);
    rv::NotifyMessagesChanged();
    finished = true;
    return true;
  });
  ASSERT_TRUE(Eventually([&] { return started.load(); }));
  EXPECT_FALSE(rv::CurrentWorkerAbandoned()) << "the window thread is no abandoned worker";
  rv::KillWorker();
  EXPECT_FALSE(rv::WorkerExists()) << "the kill clears the worker at once";
  ASSERT_TRUE(Eventually([&] { return finished.load(); })) << "the abandoned task never ended";
  EXPECT_TRUE(abandonedSeen);
  std::this_thread::sleep_for(100ms);  // room for a completion that must not come
  EXPECT_TRUE(TestHost().Done().empty()) << "a killed task must not complete";
  EXPECT_TRUE(TestHost().Checks().empty());
  ASSERT_EQ(TestHost().Progress().size(), 1u);
  EXPECT_EQ(TestHost().Progress()[0].percent, 1);
  EXPECT_FALSE(rv::StopRequested()) << "the kill leaves no stop request for the next task";
}

TEST_F(TaskTest, KillWhileTheNextTaskRunsDropsOnlyTheOldWorkersCalls) {
  // A killed task that is slow to notice must not disturb the task started after it.
  std::atomic<bool> oldStarted{false}, oldMayGo{false}, oldFinished{false};
  Start("doJOIN", [&] {
    for (oldStarted = true; !oldMayGo;) std::this_thread::sleep_for(1ms);
    rv::SendCheckMessage(2, 99);
    oldFinished = true;
    return true;
  });
  ASSERT_TRUE(Eventually([&] { return oldStarted.load(); }));
  rv::KillWorker();
  std::atomic<bool> newMayEnd{false}, newSawStop{false};
  Start("verifyIDX1", [&] {
    rv::SendCheckMessage(6, 1);
    for (; !newMayEnd; std::this_thread::sleep_for(1ms))
      if (rv::StopRequested()) newSawStop = true;
    return true;
  });
  oldMayGo = true;  // the old worker wakes up while the new one runs
  ASSERT_TRUE(Eventually([&] { return oldFinished.load(); }));
  newMayEnd = true;
  ASSERT_TRUE(TestHost().WaitDone(1));
  rv::FinishWorker();
  std::this_thread::sleep_for(50ms);
  EXPECT_EQ(TestHost().Done(), (std::vector<std::pair<int, int>>{{100, 1}}));
  EXPECT_EQ(TestHost().Checks(), (std::vector<std::pair<int, int64_t>>{{6, 1}}));
  EXPECT_FALSE(newSawStop) << "the new task saw the old worker's stop";
}

TEST_F(TaskTest, AKilledTaskBlockedInAReadNeverReachesTheNextFilesState) {
  rvt::TempDir dir{"kill"};
  const rv::Bytes bBytes = rvt::Pattern(6000, 2);
  const std::string a = dir.Write("a.avi", rvt::Pattern(4000, 1)), b = dir.Write("b.avi", bBytes);
  rv::ResetFileState();
  rv::ClearMessages();
  rv::InputFileName() = a;
  rv::Index().entries.assign(3, rv::IndexEntry{});

  std::atomic<bool> inRead{false}, readReturns{false}, finished{false};
  Start("createIDX1", [&] {
    auto& entries = rv::Index().entries;  // held across the read, as the tasks hold it
    if (!rv::OpenSource(rv::InputFileName())) return false;
    inRead = true;
    while (!readReturns) std::this_thread::sleep_for(1ms);  // a read that hangs
    rv::Bytes got;
    rv::ReadSource(0, 16, got);
    entries.push_back(rv::IndexEntry{});
    rv::Index().entries.clear();
    rv::Blocks().clear();
    rv::Exclusions().push_back({0, 10});
    rv::InputFileName() = a;
    rv::AddMessage("• late");
    rv::CloseSource();
    finished = true;
    return true;
  });
  ASSERT_TRUE(Eventually([&] { return inRead.load(); }));
  rv::KillWorker();

  // The user reads another file; the window holds it open.
  rv::ResetFileState();
  rv::InputFileName() = b;
  rv::Blocks().push_back(rv::BlockRecord{"ROOT", "AVI ", -1, 0, 0, -1, 0});
  rv::Index().entries.assign(5, rv::IndexEntry{});
  ASSERT_TRUE(rv::OpenSource(b));
  readReturns = true;
  ASSERT_TRUE(Eventually([&] { return finished.load(); }));

  EXPECT_EQ(rv::Index().entries.size(), 5u);
  EXPECT_EQ(rv::Blocks().size(), 1u);
  EXPECT_TRUE(rv::Exclusions().empty());
  EXPECT_EQ(rv::InputFileName(), b);
  EXPECT_TRUE(rv::MessageLines().empty());
  ASSERT_TRUE(rv::SourceIsOpen()) << "the abandoned task closed the window's file";
  rv::Bytes got;
  ASSERT_TRUE(rv::ReadSource(0, 16, got));
  EXPECT_EQ(got, rv::Bytes(bBytes.begin(), bBytes.begin() + 16));
  rv::CloseSource();
  rv::ResetFileState();
}

}  // namespace
