// The message list: the program's log shown in MemoST.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace rv {

constexpr size_t kMaxMessageLines = 500;

// Appends a line (callers include the bullet "• "); a list already holding 500 lines or
// more is cleared first. Safe from any thread; lines keep the order in which they came.
void AddMessage(const std::string& text);
void ClearMessages();
std::vector<std::string> MessageLines();
// Bumped at every change, so a view can tell whether it is current.
uint64_t MessagesGeneration();

}  // namespace rv
