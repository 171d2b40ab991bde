// The hexadecimal dump window: a run of bytes of the source file as address, bytes in
// groups of four and characters, 16, 24 or 32 bytes per line. Not modal; one instance
// stays for the whole run and is refilled by each dump.
#pragma once

#include <QWidget>

#include <cstdint>
#include <string>
#include <vector>

#include "riff/bytes.h"

class QPlainTextEdit;
class QRadioButton;

class TFormDU : public QWidget {
  Q_OBJECT

 public:
  static constexpr int kStandardWidth = 450;
  static constexpr int kStandardHeight = 256;

  explicit TFormDU(QWidget* parent = nullptr);
  ~TFormDU() override;

  // File position of the first byte; set before MakeDump.
  void SetBase(uint64_t base);
  uint64_t Base() const { return base_; }
  // Keeps its own copy of bytes and count and fills MemoH at the checked line width. With
  // skipped > 0 the bytes from index gapAt on lie that many bytes further in the file (a
  // long block shown by its start and its end).
  void MakeDump(const rv::Bytes& bytes, uint32_t count, uint32_t gapAt = 0, uint32_t skipped = 0);
  uint32_t Count() const { return count_; }
  const rv::Bytes& DumpedBytes() const { return bytes_; }
  // 16, 24 or 32, after the radio buttons.
  int BytesPerLine() const;

 public Q_SLOTS:
  // Click handler of all three radio buttons: dumps the stored bytes again.
  void Radio16Click();

 protected:
  void resizeEvent(QResizeEvent* event) override;

 private:
  void WidenForLines(const std::vector<std::string>& lines);

  QRadioButton* radio16_ = nullptr;
  QRadioButton* radio24_ = nullptr;
  QRadioButton* radio32_ = nullptr;
  QPlainTextEdit* memoH_ = nullptr;

  rv::Bytes bytes_;
  uint32_t count_ = 0;
  uint64_t base_ = 0;
  uint32_t gapAt_ = 0;
  uint32_t skipped_ = 0;
};

// The single dump window, created on first use (a QApplication must exist).
TFormDU& FormDU();
