// The message list: lines in order, and the restart after 500 lines.
#include <gtest/gtest.h>

#include <string>
#include <thread>
#include <vector>

#include "base/messages.h"

namespace {

TEST(MessageList, KeepsLinesInOrderRestartsAfterFiveHundredAndCountsChanges) {
  rv::ClearMessages();
  uint64_t g = rv::MessagesGeneration();
  for (int i = 0; i < 500; ++i) {
    rv::AddMessage("• a");
    ASSERT_NE(rv::MessagesGeneration(), g) << "an identical line is still a change";
    g = rv::MessagesGeneration();
  }
  std::vector<std::string> lines = rv::MessageLines();
  ASSERT_EQ(lines.size(), 500u) << "the 500th line is appended, not a reason to clear";
  rv::AddMessage("• b");
  EXPECT_EQ(rv::MessageLines(), (std::vector<std::string>{"• b"}))
      << "a full list is cleared before the append";
  rv::AddMessage("• c");
  EXPECT_EQ(rv::MessageLines(), (std::vector<std::string>{"• b", "• c"}));
  g = rv::MessagesGeneration();
  rv::ClearMessages();
  EXPECT_NE(rv::MessagesGeneration(), g);
  EXPECT_TRUE(rv::MessageLines().empty());
}

TEST(MessageList, LinesFromTwoThreadsAreAllKeptInTheirOwnOrder) {
  rv::ClearMessages();
  auto writer = [](char who) {
    for (int i = 0; i < 200; ++i) rv::AddMessage(std::string("• ") + who + std::to_string(i));
  };
  std::thread a(writer, 'a'), b(writer, 'b');
  a.join();
  b.join();
  const std::vector<std::string> lines = rv::MessageLines();
  ASSERT_EQ(lines.size(), 400u);
  int nextA = 0, nextB = 0;
  for (const std::string& l : lines) {
    int& next = l[4] == 'a' ? nextA : nextB;  // after the 3-byte bullet and the blank
    EXPECT_EQ(l.substr(5), std::to_string(next)) << l;
    ++next;
  }
  EXPECT_EQ(nextA, 200);
  EXPECT_EQ(nextB, 200);
  rv::ClearMessages();
}

}  // namespace
