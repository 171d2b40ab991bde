// The keyframe tab "поиск опорных кадров": the picture panel EKRAN, loading the source's own
// index, the codec choice, the start and stop of the task "findKK", and the labels, gauge and
// pictures that follow the search.
#pragma once

#include <QComboBox>
#include <QFrame>
#include <QImage>
#include <QObject>
#include <QString>
#include <QTimer>

#include <array>
#include <cstdint>
#include <string>

#include "base/host.h"
#include "decode/decompressor.h"
#include "riff/bytes.h"

class QCheckBox;
class QLabel;
class QPushButton;
class PictureButton;
class PieGauge;
class TaskWindow;

// A picture as a QImage: the bottom-up 24-bit BGR rows of a decoded picture, top row first.
// A null image when the bytes are fewer than the format needs.
QImage PictureImage(const rv::BitmapInfo& format, const rv::Bytes& picture);

// The grey panel the decoded pictures are drawn into, stretched over its whole client area.
class EkranPanel : public QFrame {
  Q_OBJECT

 public:
  static constexpr QRgb kGrey = 0xFFA0A0A0;

  explicit EkranPanel(QWidget* parent = nullptr);
  void SetPicture(const QImage& image);
  // Back to the plain grey panel.
  void Clear();
  const QImage& Picture() const { return picture_; }

 protected:
  void paintEvent(QPaintEvent* event) override;

 private:
  QImage picture_;
};

// A choice box that says when its list is about to drop down, before the list is shown.
class DropDownComboBox : public QComboBox {
  Q_OBJECT

 public:
  explicit DropDownComboBox(QWidget* parent = nullptr);
  void showPopup() override;

 Q_SIGNALS:
  void droppingDown();
};

class KeyframeTab : public QObject {
  Q_OBJECT

 public:
  static constexpr const char* kTaskName = "findKK";
  // How often the labels, the gauge and EKRAN look at the running search, in milliseconds.
  static constexpr int kFollowPeriodMs = 40;
  // How long after CheckKK was unchecked EKRAN is cleared a second time.
  static constexpr int kSecondClearMs = 100;

  // Builds the controls into `tab` (which must have no layout yet) of `window`.
  KeyframeTab(TaskWindow& window, QWidget* tab);

  // ---- controls -------------------------------------------------------------------------
  QFrame* PanelLL = nullptr;
  PieGauge* GaugeKS = nullptr;
  QLabel* LabelKKP = nullptr;
  QLabel* LabelIO = nullptr;
  EkranPanel* EKRAN = nullptr;
  QPushButton* BitBtnLI = nullptr;
  QPushButton* BitBtnPL = nullptr;
  PictureButton* ImageStop = nullptr;
  QLabel* Label42 = nullptr;
  DropDownComboBox* ComboKK = nullptr;
  QLabel* LabelKK = nullptr;
  QLabel* LabelPR = nullptr;
  QLabel* LabelKA = nullptr;
  QCheckBox* CheckKK = nullptr;
  QCheckBox* CheckSH = nullptr;

 public Q_SLOTS:
  void TabSheetKKShow();
  void TabSheetKKResize();
  // Sizes and centres EKRAN for the picture area size of the search.
  void ResizeEkran();
  void BitBtnLIClick();
  void BitBtnPLClick();
  void ImageStopClick();
  void Label42Click();
  void ComboKKDropDown();
  void CheckKKClick();
  // The search's progress: GaugeKS, the position in LabelKKP, the keyframes found in LabelIO.
  void ShowProgress(const rv::Progress& p);
  // The window's completion: code 103 ends a search.
  void TaskCompleted(int code, int result);
  // Another file is read: the picture, the counts and the texts of the old one go.
  void FileReset();

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  // Shows what the search changed since the last look: texts, gauge, picture, area size.
  void Follow();
  void ShowTexts();
  void ShowPicture();
  // EKRAN wiped, and the pictures made so far are not shown again.
  void ClearEkran();
  // The keyframe labels by the names the engine keeps their texts under.
  QLabel* TextLabel(size_t i) const;

  TaskWindow& window_;
  QWidget* tab_;
  QTimer followTimer_;
  bool areaRecorded_ = false;
  static constexpr std::array<const char*, 5> kTextNames = {"LabelIO", "LabelKK", "LabelPR",
                                                            "LabelKA", "LabelKKP"};
  std::array<std::string, 5> shownTexts_;
  uint64_t shownPictureGeneration_ = 0;
  int fittedWidth_ = -1, fittedHeight_ = -1;
};
