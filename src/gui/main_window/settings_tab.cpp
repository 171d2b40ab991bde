#include "gui/main_window/settings_tab.h"

#include <QCheckBox>
#include <QComboBox>
#include <QEvent>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSignalBlocker>
#include <QStyle>
#include <QStyleOptionButton>
#include <QVBoxLayout>

#include <algorithm>

#include "base/tasks.h"
#include "gui/common/widgets.h"
#include "riff/source.h"

namespace {

// Captions of the controls.
constexpr const char* kBufferCaption = "размер буфера:                     Mb";
constexpr const char* kBigBlocksCaption =
    "блоки размером больше              kb считать битыми и включать поиск";
constexpr const char* kKillHint = "kill thread";
constexpr const char* kKillText =
    "<<< нажмите сюда, если 'нитка' повисла, а вы хотите попробовать сохранить перекееный "
    "индекс";

// Largest buffer, in units of 1,024,000 bytes, whose size fits the 32-bit cache size.
constexpr long long kMaxBufferUnits = 0xFFFFFFFFll / rv::kCacheUnit;

}  // namespace

void SettingsTab::SetComboText(QComboBox* combo, const QString& text) {
  int i = combo->findText(text);
  if (i >= 0) combo->setCurrentIndex(i);
  combo->setEditText(text);
}

void SettingsTab::BuildSettingsTab(QWidget* tab, QObject* filter) {
  auto* l = new QVBoxLayout(tab);
  l->setContentsMargins(10, 8, 10, 8);
  l->setSpacing(3);

  // The buffer size: the combo box sits in the gap of its caption.
  LabelIOBMX = Named(new QLabel(Q(kBufferCaption)), "LabelIOBMX");
  ComboIOBMX = Named(new QComboBox(LabelIOBMX), "ComboIOBMX");
  ComboIOBMX->setEditable(true);
  ComboIOBMX->setInsertPolicy(QComboBox::NoInsert);
  ComboIOBMX->lineEdit()->setReadOnly(true);
  ComboIOBMX->addItems({QStringLiteral("2"), QStringLiteral("5"), QStringLiteral("10"),
                        QStringLiteral("50"), QStringLiteral("100")});
  ComboIOBMX->installEventFilter(filter);
  ComboIOBMX->lineEdit()->installEventFilter(filter);
  LabelIOBMX->setMinimumHeight(ComboIOBMX->sizeHint().height() + 2);
  LabelIOBMX->installEventFilter(filter);
  l->addWidget(LabelIOBMX);

  CheckKR = Named(new WrapCheckBox(Q("размер в блоке movi считать кривым и сканировать поток до "
                                     "конца файла.")),
                  "CheckKR");
  CheckOF = Named(new WrapCheckBox(Q("если размер блока указывает за пределы файла - включать "
                                     "поиск")),
                  "CheckOF");
  CheckHB = Named(new QCheckBox(Q(kBigBlocksCaption)), "CheckHB");
  EditHB = Named(new QLineEdit(CheckHB), "EditHB");
  EditHB->setAlignment(Qt::AlignRight);
  CheckHB->setMinimumHeight(EditHB->sizeHint().height() + 2);
  CheckHB->installEventFilter(filter);
  CheckLF =
      Named(new WrapCheckBox(Q("курсор бежит вниз по мере добавления ошибок в список")), "CheckLF");
  CheckTT = Named(new WrapCheckBox(Q("номер в метках ??db, ??dc и ??wb может быть только 00 или "
                                     "01.")),
                  "CheckTT");
  CheckPPSI = Named(new WrapCheckBox(Q("автостарт при первом нажатии на кнопку \"создать "
                                       "индекс\"")),
                    "CheckPPSI");
  for (QWidget* w :
       std::initializer_list<QWidget*>{CheckKR, CheckOF, CheckHB, CheckLF, CheckTT, CheckPPSI})
    l->addWidget(w);

  l->addSpacing(8);
  LabelSave = Named(new QLabel(Q("при сохранении:")), "LabelSave");
  l->addWidget(LabelSave);
  CheckTNF = Named(new WrapCheckBox(Q("положить кол-во кадров видео в поля "
                                      "AVIH.TotalNumberOfFrames и V.STRH.DataLength")),
                   "CheckTNF");
  CheckDRTS = Named(new WrapCheckBox(Q("рассчитать и положить в AVIH и V.STRH поля DataRate и "
                                       "TimeScale по значению AVIH.TimeBetweenFrames")),
                    "CheckDRTS");
  CheckADL = Named(new WrapCheckBox(Q("просуммировать размеры звуковых кадров и положить в поле "
                                      "A.STRH.DataLength")),
                   "CheckADL");
  CheckATD = Named(new WrapCheckBox(Q("A.STRH.TimeScale = 1, A.STRH.DataRate = A.STRH.DataLength / "
                                      "(продолжительность видео потока [сек])")),
                   "CheckATD");
  CheckATD->setEnabled(false);
  for (QWidget* w : std::initializer_list<QWidget*>{CheckTNF, CheckDRTS, CheckADL}) l->addWidget(w);
  auto* atdRow = new QHBoxLayout;
  atdRow->addSpacing(18);
  atdRow->addWidget(CheckATD, 1);
  l->addLayout(atdRow);
  l->addStretch(1);

  auto* killRow = new QHBoxLayout;
  BitBtnKT = Named(new QPushButton, "BitBtnKT");
  BitBtnKT->setIcon(QIcon(pictures::Draw(pictures::Kind::Kill, 18)));
  BitBtnKT->setToolTip(Q(kKillHint));
  BitBtnKT->setFixedSize(30, 26);
  LabelKT = Named(new QLabel(Q(kKillText)), "LabelKT");
  LabelKT->setWordWrap(true);
  killRow->addWidget(BitBtnKT, 0, Qt::AlignTop);
  killRow->addWidget(LabelKT, 1);
  l->addLayout(killRow);
}

void SettingsTab::ComboIOBMXChange(const QString& text) {
  if (rv::IsNumber(text.toStdString()) && !rv::WorkerExists()) {
    long long units = text.toLongLong();
    if (units >= 1 && units <= kMaxBufferUnits) {
      rv::SetCacheSize(uint32_t(units) * rv::kCacheUnit);
      return;
    }
  }
  // The size cannot change now (or the text is no size): show the size in use again.
  QSignalBlocker block(ComboIOBMX);
  SetComboText(ComboIOBMX, QString::number(rv::Cache().size / rv::kCacheUnit));
}

void SettingsTab::CheckADLClick() {
  if (!CheckADL->isChecked()) {
    CheckATD->setChecked(false);
    CheckATD->setEnabled(false);
  } else {
    CheckATD->setEnabled(true);
  }
}

void SettingsTab::PlaceGapControls() {
  // EditHB in the blanks of the CheckHB caption, ComboIOBMX in those of LabelIOBMX.
  auto gap = [](const QString& caption, const QFontMetrics& fm, int& left, int& width) {
    int first = caption.indexOf(QLatin1String("  "));
    int last = first;
    while (last < caption.size() && caption[last] == QLatin1Char(' ')) ++last;
    left = fm.horizontalAdvance(caption.left(first + 1));
    width = fm.horizontalAdvance(caption.mid(first + 1, last - first - 2));
  };
  {
    QStyleOptionButton opt;
    opt.initFrom(CheckHB);
    opt.text = CheckHB->text();
    QRect contents = CheckHB->style()->subElementRect(QStyle::SE_CheckBoxContents, &opt, CheckHB);
    int left = 0, width = 0;
    gap(CheckHB->text(), CheckHB->fontMetrics(), left, width);
    int h = std::min(EditHB->sizeHint().height(), CheckHB->height());
    EditHB->setGeometry(contents.left() + left, (CheckHB->height() - h) / 2, width, h);
  }
  {
    int left = 0, width = 0;
    gap(LabelIOBMX->text(), LabelIOBMX->fontMetrics(), left, width);
    int h = std::min(ComboIOBMX->sizeHint().height(), LabelIOBMX->height());
    ComboIOBMX->setGeometry(LabelIOBMX->contentsRect().left() + left,
                            (LabelIOBMX->height() - h) / 2, width, h);
  }
}

bool SettingsTab::FilterSettingsEvent(QObject* watched, QEvent* event) {
  if (event->type() == QEvent::KeyPress &&
      (watched == ComboIOBMX || watched == ComboIOBMX->lineEdit())) {
    // Typing into the buffer size is blocked: its text is always one of the list.
    auto* key = static_cast<QKeyEvent*>(event);
    if (!key->text().isEmpty()) return true;
  }
  if ((event->type() == QEvent::Resize || event->type() == QEvent::Show) &&
      (watched == CheckHB || watched == LabelIOBMX))
    PlaceGapControls();
  return false;
}
