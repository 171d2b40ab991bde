// Joining several AVI files under the header of the first, with a new idx1; and the locator
// of a file's movi list.
#pragma once

#include <atomic>
#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

namespace rv {

extern const char* const kJoinNotice;  // LabelJINFO

// What the join tab and the task share. The status line is written by the task and read by
// the window, hence the lock.
struct JoinState {
  std::vector<std::string> files;  // JList, in join order
  std::string output;              // EditSUM
  std::atomic<int> gauge{0};       // GaugeZ, percent of the current file
  std::atomic<bool> gaugeVisible{false};
  std::atomic<uint64_t> generation{0};
  void SetStatus(const std::string& s);
  std::string Status();

 private:
  std::mutex mutex_;
  std::string status_;  // LabelME
};
JoinState& Join();

// The task routine "doJOIN".
bool doJOIN();

// ImageSUM: the first file's name with ".joined" before its extension ("" for an empty list).
std::string JoinedName(const std::string& first);
// A drag of item s onto item t; the list is unchanged when either is out of range or equal.
void MoveItem(std::vector<std::string>& items, int s, int t);

}  // namespace rv
