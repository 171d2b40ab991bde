// Options the engine reads at each use. The windows keep it in step with their check boxes;
// the command line fills it from its flags.
#pragma once

#include <atomic>
#include <cstdint>
#include <string>

namespace rv {

struct Options {
  std::atomic<bool> key00db{true};              // Check00db
  std::atomic<bool> key01wb{true};              // Check01wb
  std::atomic<bool> searchNext{true};           // CheckFI
  std::atomic<bool> scanToEof{false};           // CheckKR
  std::atomic<bool> beyondEof{true};            // CheckOF
  std::atomic<bool> bigIsBad{false};            // CheckHB
  std::atomic<uint32_t> bigLimitBytes{500000};  // EditHB as bytes (SizeLimitFromText)
  std::atomic<bool> followErrors{false};        // CheckLF
  std::atomic<bool> streams01{false};           // CheckTT
  std::atomic<bool> autostart{false};           // CheckPPSI
  std::atomic<bool> totalFrames{false};         // CheckTNF
  std::atomic<bool> ratesFromTbf{false};        // CheckDRTS
  std::atomic<bool> audioLength{false};         // CheckADL
  std::atomic<bool> audioRate{false};           // CheckATD
  std::atomic<bool> highPriorityCheck{true};    // CheckHI of the stream-check window
  std::atomic<bool> highPriorityMain{true};     // CheckHI of the main window
  std::atomic<bool> noIdx1{false};              // CheckNoIDX1
  std::atomic<bool> noFixSize{false};           // CheckNoFixSz
  std::atomic<bool> savePart{false};            // CheckSavePart
  std::atomic<bool> saveIndexOnly{false};       // CheckSAID
  std::atomic<char> headerMode{'M'};            // 'M' built (RadioZM), 'I' assembled, 'O' copied
  void Reset();
};
Options& Opt();

// EditHB's text as a size limit in bytes: the number x 1000 when the text is a number (cut to
// the 32-bit range), else no limit at all.
uint32_t SizeLimitFromText(const std::string& text);

}  // namespace rv
