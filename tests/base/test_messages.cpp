// The message list: lines in order, and the restart after 500 lines.
#include <gtest/gtest.h>

#include <string>
#include <thread>
#include <vector>

#include "base/messages.h"

namespace {

TEST(MessageList, KeepsLinesInOrderAndRestartsAfterFiveHundred) {
  rv::ClearMessages();
  EXPECT_TRUE(rv::MessageLines().empty());
  for (int i = 0; i < 499; ++i) rv::AddMessage("• line " + std::to_string(i));
  ASSERT_EQ(rv::MessageLines().size(), 499u);

  rv::AddMessage("• line 499");
  std::vector<std::string> lines = rv::MessageLines();
  ASSERT_EQ(lines.size(), 500u) << "the 500th line is appended, not a reason to clear";
  EXPECT_EQ(lines.front(), "• line 0");
  EXPECT_EQ(lines[250], "• line 250");
  EXPECT_EQ(lines.back(), "• line 499");

  rv::AddMessage("• line 500");
  lines = rv::MessageLines();
  EXPECT_EQ(lines, (std::vector<std::string>{"• line 500"}))
      << "a full list is cleared before the append";

  rv::AddMessage("• line 501");
  EXPECT_EQ(rv::MessageLines(), (std::vector<std::string>{"• line 500", "• line 501"}));
  rv::ClearMessages();
}

TEST(MessageList, EveryChangeBumpsTheGeneration) {
  rv::ClearMessages();
  const uint64_t g0 = rv::MessagesGeneration();
  rv::AddMessage("• a");
  const uint64_t g1 = rv::MessagesGeneration();
  EXPECT_NE(g1, g0);
  rv::AddMessage("• a");
  const uint64_t g2 = rv::MessagesGeneration();
  EXPECT_NE(g2, g1) << "an identical line is still a change";
  rv::ClearMessages();
  EXPECT_NE(rv::MessagesGeneration(), g2);
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
