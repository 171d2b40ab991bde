#include "gui/keyframes/keyframe_tab.h"

#include <QCheckBox>
#include <QEvent>
#include <QHBoxLayout>
#include <QLabel>
#include <QLayout>
#include <QLineEdit>
#include <QMouseEvent>
#include <QPainter>
#include <QPushButton>
#include <QVBoxLayout>

#include <cstdlib>
#include <vector>

#include "base/questions.h"
#include "base/tasks.h"
#include "check/index.h"
#include "decode/keyframes.h"
#include "gui/common/task_window.h"
#include "gui/common/widgets.h"
#include "riff/blocks.h"
#include "riff/header.h"

namespace {

constexpr const char* kLoadIndex = "загрузить индекс из исходного файла";
constexpr const char* kGo = "го";
constexpr const char* kCodec = "кодек:";
constexpr const char* kAuto = "auto";
constexpr const char* kHeaderCodec = "в заголовке указан кодек:";
constexpr const char* kHeaderCompression = "в заголовке указано сжатие:";
constexpr const char* kCodecInUse = "в работе кодек:";
constexpr const char* kNoIndex = "индекс отсутствует";
constexpr const char* kKeyframesFound = "найдено опорных кадров: ";
constexpr const char* kShowKeyframes = "показывать опорные кадры в процессе поиска";
constexpr const char* kShowAll = "отображать процесс поиска целиком";
constexpr const char* kIndexLoadedAsk = "] уже загружен. продолжить?";
constexpr const char* kNoOwnIndex = "в исходном файле индекс не найден";
constexpr const char* kIndexNeeded =
    "для поиска нужен индекс: проверьте поток на вкладке «ремонт» или загрузите индекс из "
    "исходного файла";
constexpr const char* kIndexLoaded = "загружено записей индекса: ";

constexpr int kPictureSize = 20;

// Indices into the engine's label texts, in the order of KeyframeTab::kTextNames.
enum TextIndex : size_t { kIO, kKK, kPR, kKA, kKKP };

// A label whose long text never widens the window: it is cut at the panel's edge.
QLabel* InfoLabel(const char* text, const char* name, QWidget* parent) {
  auto* label = Named(new QLabel(Q(text), parent), name);
  label->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
  label->setMinimumWidth(1);
  return label;
}

}  // namespace

// ---- pictures ---------------------------------------------------------------------------------

QImage PictureImage(const rv::BitmapInfo& format, const rv::Bytes& picture) {
  const int64_t w = std::abs(int64_t(format.biWidth)), h = std::abs(int64_t(format.biHeight));
  const size_t stride = rv::PictureStride(format);
  if (w <= 0 || h <= 0 || w > 0x7FFF || h > 0x7FFF || picture.size() < stride * size_t(h))
    return {};
  // The rows are stored bottom-up: the first row in memory is the picture's last.
  QImage rows(picture.data(), int(w), int(h), qsizetype(stride), QImage::Format_BGR888);
  return rows.mirrored(false, true);
}

EkranPanel::EkranPanel(QWidget* parent) : QFrame(parent) {
  setFrameShape(QFrame::NoFrame);
  setAutoFillBackground(false);
  setAttribute(Qt::WA_OpaquePaintEvent);
}

void EkranPanel::SetPicture(const QImage& image) {
  picture_ = image;
  update();
}

void EkranPanel::Clear() {
  picture_ = QImage();
  update();
}

void EkranPanel::paintEvent(QPaintEvent*) {
  QPainter p(this);
  const QRect client = contentsRect();
  if (picture_.isNull()) {
    p.fillRect(rect(), QColor::fromRgb(kGrey));
    return;
  }
  p.drawImage(client, picture_);
}

DropDownComboBox::DropDownComboBox(QWidget* parent) : QComboBox(parent) {}

void DropDownComboBox::showPopup() {
  Q_EMIT droppingDown();
  QComboBox::showPopup();
}

// ---- the tab ----------------------------------------------------------------------------------

KeyframeTab::KeyframeTab(TaskWindow& window, QWidget* tab)
    : QObject(tab), window_(window), tab_(tab) {
  setObjectName("KeyframeTab");
  auto* l = new QVBoxLayout(tab);
  l->setContentsMargins(3, 3, 3, 3);
  l->addStretch(1);
  PanelLL = Named(new QFrame, "PanelLL");
  PanelLL->setFrameShape(QFrame::StyledPanel);
  LabelKKP = Named(new QLabel(Q(" ")), "LabelKKP");
  LabelKKP->setAlignment(Qt::AlignCenter);
  GaugeKS = Named(new PieGauge, "GaugeKS");
  GaugeKS->setFixedSize(28, 28);
  KeepPlace(GaugeKS);
  GaugeKS->hide();
  LabelIO = Named(new QLabel(Q(kNoIndex)), "LabelIO");
  LabelIO->setAlignment(Qt::AlignCenter);
  // A long outcome wraps inside its column instead of widening it over the codec labels.
  LabelIO->setWordWrap(true);
  LabelIO->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
  l->addWidget(PanelLL);
  QFrame* panel = PanelLL;

  EKRAN = Named(new EkranPanel(tab), "EKRAN");
  EKRAN->setToolTipDuration(-1);

  BitBtnLI = Named(new QPushButton(Q(kLoadIndex), panel), "BitBtnLI");
  BitBtnPL = Named(new QPushButton(Q(kGo), panel), "BitBtnPL");
  BitBtnPL->setMinimumWidth(60);
  ImageStop = Named(new PictureButton(panel), "ImageStop");
  ImageStop->SetPicture(pictures::Draw(pictures::Kind::Stop, kPictureSize),
                        QStringLiteral("ImageStop"));
  ImageStop->setToolTip(Q("прервать"));
  KeepPlace(ImageStop);
  ImageStop->hide();
  Label42 = Named(new QLabel(Q(kCodec), panel), "Label42");
  Label42->setCursor(Qt::PointingHandCursor);
  ComboKK = Named(new DropDownComboBox(panel), "ComboKK");
  ComboKK->setEditable(true);
  ComboKK->setInsertPolicy(QComboBox::NoInsert);
  ComboKK->setSizeAdjustPolicy(QComboBox::AdjustToMinimumContentsLengthWithIcon);
  ComboKK->setMinimumContentsLength(12);
  ComboKK->setEditText(Q(kAuto));
  LabelKK = InfoLabel(kHeaderCodec, "LabelKK", panel);
  LabelPR = InfoLabel(kHeaderCompression, "LabelPR", panel);
  LabelKA = InfoLabel(kCodecInUse, "LabelKA", panel);
  CheckKK = Named(new QCheckBox(Q(kShowKeyframes), panel), "CheckKK");
  CheckSH = Named(new QCheckBox(Q(kShowAll), panel), "CheckSH");
  CheckKK->setChecked(true);
  CheckSH->setChecked(true);
  rv::Keyframes().showKeyframes = true;
  rv::Keyframes().showAll = true;
  QFont bold = LabelIO->font();
  bold.setBold(true);
  LabelIO->setFont(bold);
  // Whatever the window put into the labels is what has been shown of the engine's texts.
  shownTexts_ = {LabelIO->text().toStdString(), kHeaderCodec, kHeaderCompression, kCodecInUse,
                 LabelKKP->text().toStdString()};

  // Left: the index and the search with its progress; right: the codec; below: what is drawn.
  auto* left = new QVBoxLayout;
  left->setSpacing(3);
  left->addWidget(BitBtnLI);
  auto* goRow = new QHBoxLayout;
  goRow->setSpacing(3);
  goRow->addWidget(BitBtnPL);
  goRow->addWidget(ImageStop);
  goRow->addWidget(GaugeKS);
  goRow->addWidget(LabelKKP, 1);
  left->addLayout(goRow);
  left->addWidget(LabelIO);

  auto* right = new QVBoxLayout;
  right->setSpacing(3);
  auto* codecRow = new QHBoxLayout;
  codecRow->setSpacing(4);
  codecRow->addWidget(Label42);
  codecRow->addWidget(ComboKK, 1);
  right->addLayout(codecRow);
  right->addWidget(LabelKK);
  right->addWidget(LabelPR);
  right->addWidget(LabelKA);

  auto* columns = new QHBoxLayout;
  columns->setSpacing(10);
  columns->addLayout(left, 1);
  columns->addLayout(right, 1);

  auto* checks = new QHBoxLayout;
  checks->setSpacing(12);
  checks->addWidget(CheckKK);
  checks->addWidget(CheckSH);
  checks->addStretch(1);

  auto* ll = new QVBoxLayout(panel);
  ll->setContentsMargins(6, 4, 6, 4);
  ll->setSpacing(4);
  ll->addLayout(columns);
  ll->addLayout(checks);

  followTimer_.setInterval(kFollowPeriodMs);
  connect(&followTimer_, &QTimer::timeout, this, &KeyframeTab::Follow);

  connect(BitBtnLI, &QPushButton::clicked, this, &KeyframeTab::BitBtnLIClick);
  connect(BitBtnPL, &QPushButton::clicked, this, &KeyframeTab::BitBtnPLClick);
  connect(ImageStop, &QToolButton::clicked, this, &KeyframeTab::ImageStopClick);
  connect(ComboKK, &DropDownComboBox::droppingDown, this, &KeyframeTab::ComboKKDropDown);
  connect(CheckKK, &QCheckBox::toggled, this, &KeyframeTab::CheckKKClick);
  connect(CheckSH, &QCheckBox::toggled, this,
          [](bool checked) { rv::Keyframes().showAll = checked; });
  tab->installEventFilter(this);
  panel->installEventFilter(this);
  Label42->installEventFilter(this);
}

QLabel* KeyframeTab::TextLabel(size_t i) const {
  switch (i) {
    case kIO: return LabelIO;
    case kKK: return LabelKK;
    case kPR: return LabelPR;
    case kKA: return LabelKA;
    default: return LabelKKP;
  }
}

bool KeyframeTab::eventFilter(QObject* watched, QEvent* event) {
  const QEvent::Type type = event->type();
  if (watched == tab_) {
    if (type == QEvent::Show && !event->spontaneous())
      TabSheetKKShow();
    else if (type == QEvent::Resize)
      TabSheetKKResize();
  } else if (watched == PanelLL) {
    // The picture area ends where the panel begins.
    if (type == QEvent::Move || type == QEvent::Resize) ResizeEkran();
  } else if (watched == Label42 && type == QEvent::MouseButtonRelease) {
    auto* mouse = static_cast<QMouseEvent*>(event);
    if (mouse->button() == Qt::LeftButton && Label42->rect().contains(mouse->position().toPoint()))
      Label42Click();
  }
  return QObject::eventFilter(watched, event);
}

// ---- tab upkeep -------------------------------------------------------------------------------

void KeyframeTab::TabSheetKKShow() {
  rv::KeyframeState& k = rv::Keyframes();
  if (!rv::WorkerExists()) {
    k.SetText("LabelKK",
              std::string(kHeaderCodec) + " " + rv::ShowChars(rv::Header().vstrh.DeviceHandler));
    k.SetText("LabelPR", std::string(kHeaderCompression) + " " +
                             rv::ShowChars(rv::Header().vstrf.biCompression));
    k.SetText("LabelKA", std::string(kCodecInUse) + " ");
  }
  k.SetText("LabelIO", rv::Index().count > 0 ? "" : kNoIndex);
  for (size_t i : {kIO, kKK, kPR, kKA}) {
    shownTexts_[i] = k.Text(kTextNames[i]);
    TextLabel(i)->setText(QString::fromStdString(shownTexts_[i]));
  }
  ResizeEkran();
}

void KeyframeTab::TabSheetKKResize() { ResizeEkran(); }

void KeyframeTab::ResizeEkran() {
  QWidget* tab = tab_;
  if (QLayout* l = tab->layout(); l && tab->isVisible()) l->activate();
  const int tabWidth = tab->width();
  const int panelTop = PanelLL->geometry().top();
  if (tabWidth <= 16 || panelTop <= 16) return;  // not laid out yet
  rv::KeyframeState& k = rv::Keyframes();
  if (!areaRecorded_) {
    // The first real layout is the start-up one: the picture area is all there is.
    areaRecorded_ = true;
    if (k.areaWidth == 0 && k.areaHeight == 0) {
      k.areaWidth = tabWidth - 16;
      k.areaHeight = panelTop - 16;
    }
  }
  fittedWidth_ = k.areaWidth;
  fittedHeight_ = k.areaHeight;
  const rv::EkranGeometry g = rv::ResizeEkran(tabWidth, panelTop, fittedWidth_, fittedHeight_);
  if (g.width <= 0 || g.height <= 0) return;
  EKRAN->setGeometry(g.left, g.top, g.width, g.height);
  EKRAN->setToolTip(QString::fromStdString(g.hint));
}

void KeyframeTab::CheckKKClick() {
  const bool checked = CheckKK->isChecked();
  rv::Keyframes().showKeyframes = checked;
  if (checked) return;
  CheckSH->setChecked(false);
  ClearEkran();
  // A picture the running search made in the meantime is wiped as well.
  QTimer::singleShot(kSecondClearMs, this, [this] { ClearEkran(); });
}

void KeyframeTab::ClearEkran() {
  shownPictureGeneration_ = rv::Keyframes().pictureGeneration.load();
  EKRAN->Clear();
}

void KeyframeTab::Label42Click() { ComboKK->setEditText(Q(kAuto)); }

void KeyframeTab::ComboKKDropDown() {
  // The list is built once, on the first drop-down.
  if (ComboKK->count() > 0) return;
  QStringList items;
  for (const std::string& s : rv::DecompressorChoices()) items << QString::fromStdString(s);
  ComboKK->addItems(items);
  ComboKK->setCurrentIndex(0);
  ComboKK->setEditText(Q(kAuto));
}

// ---- the index --------------------------------------------------------------------------------

void KeyframeTab::BitBtnLIClick() {
  // The index belongs to a running task.
  if (rv::WorkerExists()) return;
  const size_t loaded = rv::Index().count;
  if (loaded > 0 && !rv::AskYesNo("индекс размером [" + std::to_string(loaded) + kIndexLoadedAsk))
    return;
  if (!rv::HasOwnIndex()) {
    rv::AskChoice(kNoOwnIndex, "ясно", "понятно", 'y');
    return;
  }
  // A file that cannot be read leaves the old index, and the label says what is there.
  const bool ok = rv::LoadOwnIndex(window_.InputName().toStdString());
  const std::string text = ok ? kIndexLoaded + std::to_string(rv::Index().count)
                           : rv::Index().count > 0 ? ""
                                                   : kNoIndex;
  rv::Keyframes().SetText("LabelIO", text);
  shownTexts_[kIO] = text;
  LabelIO->setText(QString::fromStdString(text));
}

// ---- the search -------------------------------------------------------------------------------

void KeyframeTab::BitBtnPLClick() {
  if (rv::WorkerExists()) return;
  if (rv::Index().count == 0) {
    rv::Keyframes().SetText("LabelIO", kIndexNeeded);
    shownTexts_[kIO] = kIndexNeeded;
    LabelIO->setText(Q(kIndexNeeded));
    return;
  }
  rv::Keyframes().SetChoice(ComboKK->currentText().toStdString());
  // The counts of an earlier search are not this one's.
  rv::Keyframes().keyframes = 0;
  rv::Keyframes().gauge = 0;
  ImageStop->show();
  if (!window_.StartTask(QLatin1String(kTaskName))) {
    ImageStop->hide();
    return;
  }
  followTimer_.start();
}

void KeyframeTab::ImageStopClick() { rv::RequestStop(); }

void KeyframeTab::ShowTexts() {
  rv::KeyframeState& k = rv::Keyframes();
  for (size_t i = 0; i < kTextNames.size(); ++i) {
    std::string text = k.Text(kTextNames[i]);
    if (text == shownTexts_[i]) continue;
    TextLabel(i)->setText(QString::fromStdString(text));
    shownTexts_[i] = std::move(text);
  }
}

void KeyframeTab::ShowPicture() {
  rv::KeyframeState& k = rv::Keyframes();
  const uint64_t generation = k.pictureGeneration.load();
  if (generation == shownPictureGeneration_) return;
  shownPictureGeneration_ = generation;
  // Nothing is drawn while CheckKK is unchecked, also not a picture made just before.
  if (!CheckKK->isChecked()) return;
  rv::BitmapInfo format;
  rv::Bytes picture;
  if (!k.Picture(format, picture)) return;
  QImage image = PictureImage(format, picture);
  if (!image.isNull()) EKRAN->SetPicture(image);
}

void KeyframeTab::Follow() {
  rv::KeyframeState& k = rv::Keyframes();
  ShowTexts();
  const bool gaugeVisible = k.gaugeVisible.load();
  if (gaugeVisible && GaugeKS->isHidden()) {
    GaugeKS->SetProgress(k.gauge.load());
    GaugeKS->show();
  } else if (!gaugeVisible && !GaugeKS->isHidden()) {
    GaugeKS->hide();
  }
  if (k.areaWidth != fittedWidth_ || k.areaHeight != fittedHeight_) ResizeEkran();
  ShowPicture();
  // A killed task has no completion: nothing is left to follow.
  if (!rv::WorkerExists()) followTimer_.stop();
}

void KeyframeTab::ShowProgress(const rv::Progress& p) {
  if (p.percent >= 0) GaugeKS->SetProgress(p.percent);
  if (p.hasText) LabelKKP->setText(Q(p.text));
  if (p.found >= 0) LabelIO->setText(Q(kKeyframesFound) + QString::number(p.found));
}

void KeyframeTab::TaskCompleted(int code, int) {
  if (code != 103 && rv::TaskCommand() != kTaskName) return;
  followTimer_.stop();
  Follow();
  // The labels the progress handler wrote are not the engine's texts: the end texts are
  // shown whatever was shown before.
  rv::KeyframeState& k = rv::Keyframes();
  for (size_t i = 0; i < kTextNames.size(); ++i) {
    shownTexts_[i] = k.Text(kTextNames[i]);
    TextLabel(i)->setText(QString::fromStdString(shownTexts_[i]));
  }
  // The count found stays on screen beside the end text.
  if (k.gauge.load() > 0 || k.keyframes.load() > 0)
    LabelIO->setText(LabelIO->text() + Q(". ") + Q(kKeyframesFound) +
                     QString::number(k.keyframes.load()));
  GaugeKS->hide();
  ImageStop->hide();
}

void KeyframeTab::FileReset() {
  rv::KeyframeState& k = rv::Keyframes();
  k.keyframes = 0;
  k.gauge = 0;
  GaugeKS->SetProgress(0);
  GaugeKS->hide();
  ClearEkran();
  k.SetText("LabelKKP", "");
  TabSheetKKShow();
  shownTexts_[kKKP].clear();
  LabelKKP->clear();
}
