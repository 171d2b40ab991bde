// The keyframe search: a video chunk is a keyframe when decoding it alone, with a freshly
// started decoder, gives exactly the picture that decoding it in sequence gives.
#pragma once

#include <atomic>
#include <cstdint>
#include <mutex>
#include <string>

#include "decode/decompressor.h"
#include "riff/bytes.h"

namespace rv {

// What the keyframe tab and the task share. Texts and the picture are written by the task
// and read by the window on its timer, hence the lock.
struct KeyframeState {
  std::atomic<bool> showKeyframes{true};  // CheckKK
  std::atomic<bool> showAll{true};        // CheckSH
  std::atomic<int> gauge{0};
  std::atomic<bool> gaugeVisible{false};
  std::atomic<uint64_t> generation{0};
  std::atomic<uint64_t> pictureGeneration{0};
  std::atomic<int> areaWidth{0}, areaHeight{0};  // the picture area size
  std::atomic<uint32_t> keyframes{0};

  void SetChoice(const std::string& s);
  std::string Choice();
  // LabelIO, LabelKK, LabelPR, LabelKA, LabelKKP by name.
  void SetText(const std::string& label, const std::string& text);
  std::string Text(const std::string& label);
  void SetPicture(const BitmapInfo& format, const Bytes& picture);
  bool Picture(BitmapInfo& format, Bytes& picture);

 private:
  std::mutex mutex_;
  std::string choice_ = "auto", io_ = "индекс отсутствует", kk_ = "в заголовке указан кодек:",
              pr_ = "в заголовке указано сжатие:", ka_ = "в работе кодек:", kkp_ = " ";
  BitmapInfo format_;
  Bytes picture_;
};
KeyframeState& Keyframes();

// The task routine "findKK".
bool FindKK();
// The first "00dc"/"00db" entry gets the keyframe flag, every later one loses it.
void ResetKeyframeFlags();
bool IsVideoFrameId(uint32_t ckid);

// BitBtnLIClick's loading: the source's own OpenDML indexes (all parts, in file order) where
// it has them, else its idx1, as stored. False (the old index kept) when the file cannot be
// read.
bool LoadOwnIndex(const std::string& fileName);

// EKRAN's size and place for a picture area: reduced, never enlarged, aspect kept.
struct EkranGeometry {
  int width = 0, height = 0, left = 0, top = 0;
  std::string hint;  // "масштаб: N%"
};
EkranGeometry ResizeEkran(int tabWidth, int panelTop, int areaWidth, int areaHeight);

}  // namespace rv
