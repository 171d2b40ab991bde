#include "gui/main_window/repair_tab.h"

#include <QCheckBox>
#include <QFrame>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QSplitter>
#include <QTreeWidget>
#include <QVBoxLayout>

#include "gui/common/widgets.h"
#include "riff/header.h"

namespace {

// Captions of the controls.
constexpr const char* kGo = "открыть и прочитать заголовок";
constexpr const char* kIdx1 = "проверка потока и создание индекса";
constexpr const char* kIdx = "проверить поток по индексу";
constexpr const char* kRec = "реконструкция заголовка";
constexpr const char* kHighPriority = "высокий приоритет задачи";
constexpr const char* kDumpItem = "посмотреть dump";

constexpr int kPictureSize = 20;

}  // namespace

void RepairTab::BuildRepairTab(QWidget* tab) {
  auto* tabLayout = new QHBoxLayout(tab);
  tabLayout->setContentsMargins(3, 3, 3, 3);
  SplitterL = Named(new QSplitter(Qt::Horizontal, tab), "SplitterL");
  SplitterL->setChildrenCollapsible(false);
  tabLayout->addWidget(SplitterL);

  // Left: the file name row, then the message list beside the tree.
  PanelL = Named(new QWidget, "PanelL");
  auto* left = new QVBoxLayout(PanelL);
  left->setContentsMargins(0, 0, 0, 0);
  left->setSpacing(3);
  PanelHDR = Named(new QWidget, "PanelHDR");
  auto* hdr = new QHBoxLayout(PanelHDR);
  hdr->setContentsMargins(0, 0, 0, 0);
  hdr->setSpacing(3);
  ImageFI = Named(new PictureButton(PanelHDR), "ImageFI");
  ImageFI->SetPicture(pictures::Draw(pictures::Kind::OpenFile, kPictureSize),
                      QStringLiteral("ImageFI"));
  ImageFI->setToolTip(Q("выбрать файл"));
  EditIN = Named(new QLineEdit(PanelHDR), "EditIN");
  hdr->addWidget(ImageFI);
  hdr->addWidget(EditIN, 1);
  left->addWidget(PanelHDR);

  SplitterST = Named(new QSplitter(Qt::Horizontal, PanelL), "SplitterST");
  SplitterST->setChildrenCollapsible(false);
  MemoST = Named(new QPlainTextEdit, "MemoST");
  MemoST->setReadOnly(true);
  MemoST->setLineWrapMode(QPlainTextEdit::WidgetWidth);
  TreeRIFF = Named(new QTreeWidget, "TreeRIFF");
  TreeRIFF->setHeaderHidden(true);
  TreeRIFF->setColumnCount(1);
  TreeRIFF->setEditTriggers(QAbstractItemView::NoEditTriggers);
  TreeRIFF->setContextMenuPolicy(Qt::CustomContextMenu);
  TreeRIFF->header()->setSectionResizeMode(QHeaderView::ResizeToContents);
  TreeRIFF->header()->setStretchLastSection(false);
  TreeRIFF->setIndentation(14);
  SplitterST->addWidget(MemoST);
  SplitterST->addWidget(TreeRIFF);
  SplitterST->setStretchFactor(0, 1);
  SplitterST->setStretchFactor(1, 1);
  left->addWidget(SplitterST, 1);

  PopupRIFF = Named(new QMenu(TreeRIFF), "PopupRIFF");
  MIdump = Named(new QAction(Q(kDumpItem), PopupRIFF), "MIdump");
  PopupRIFF->addAction(MIdump);

  // Right: the task buttons, the options of the check, the block labels, the save area.
  PanelIDX1 = Named(new QWidget, "PanelIDX1");
  PanelIDX1->setMinimumWidth(200);
  auto* right = new QVBoxLayout(PanelIDX1);
  right->setContentsMargins(2, 0, 0, 0);
  right->setSpacing(2);

  auto buttonRow = [&](QPushButton* button, QWidget* beside) {
    auto* row = new QHBoxLayout;
    row->setSpacing(3);
    row->addWidget(button, 1);
    if (beside) row->addWidget(beside);
    right->addLayout(row);
  };
  BitBtnGO = Named(new QPushButton(Q(kGo)), "BitBtnGO");
  ImageWO = Named(new QLabel, "ImageWO");
  ImageWO->setPixmap(pictures::Draw(pictures::Kind::Busy, kPictureSize));
  ImageWO->setFixedSize(kPictureSize + 4, kPictureSize + 4);
  ImageWO->setAlignment(Qt::AlignCenter);
  ImageWO->setToolTip(Q("чтение файла"));
  KeepPlace(ImageWO);
  ImageWO->hide();
  buttonRow(BitBtnGO, ImageWO);

  BitBtnIDX1 = Named(new QPushButton(Q(kIdx1)), "BitBtnIDX1");
  BitBtnFSD = Named(new QPushButton, "BitBtnFSD");
  BitBtnFSD->setIcon(QIcon(pictures::Draw(pictures::Kind::Diagram, 16)));
  BitBtnFSD->setToolTip(Q("диаграмма размеров кадров"));
  BitBtnFSD->setFixedWidth(kPictureSize + 4);
  BitBtnFSD->setEnabled(false);
  buttonRow(BitBtnIDX1, BitBtnFSD);

  BitBtnIDX = Named(new QPushButton(Q(kIdx)), "BitBtnIDX");
  BitBtnIDX->setEnabled(false);
  buttonRow(BitBtnIDX, nullptr);

  BitBtnREC = Named(new QPushButton(Q(kRec)), "BitBtnREC");
  Image1 = Named(new PictureButton, "Image1");
  Image1->SetPicture(pictures::Draw(pictures::Kind::AutoFit, 16), QStringLiteral("Image1"));
  Image1->setToolTip(Q("выровнять панели по окну"));
  Image1->setFixedWidth(kPictureSize + 4);
  buttonRow(BitBtnREC, Image1);
  BitBtnDonor = Named(new QPushButton(Q("реконструкция с донором...")), "BitBtnDonor");
  BitBtnDonor->setToolTip(Q("заголовок из исправного файла того же источника"));
  buttonRow(BitBtnDonor, nullptr);

  Check00db = Named(new WrapCheckBox(Q("считать 00db опорными кадрами")), "Check00db");
  Check01wb = Named(new WrapCheckBox(Q("считать 01wb опорными кадрами")), "Check01wb");
  CheckFI =
      Named(new WrapCheckBox(Q("при битых ссылках искать следующий блок побайтно")), "CheckFI");
  CheckHI = Named(new WrapCheckBox(Q(kHighPriority)), "CheckHI");
  CheckHI->setChecked(true);
  right->addSpacing(2);
  for (QCheckBox* c : {Check00db, Check01wb, CheckFI, CheckHI}) right->addWidget(c);

  PanelHH = Named(new QFrame, "PanelHH");
  PanelHH->setFrameShape(QFrame::StyledPanel);
  PanelHH->setFrameShadow(QFrame::Sunken);
  auto* hh = new QHBoxLayout(PanelHH);
  hh->setContentsMargins(4, 1, 4, 1);
  hh->setSpacing(2);
  QLabel** labels[rv::kLabelCount] = {&LabelAVIH,  &LabelVSTRH, &LabelVSTRF, &LabelASTRH,
                                      &LabelASTRF, &LabelMOVI,  &LabelIDX1};
  for (int i = 0; i < rv::kLabelCount; ++i) {
    auto* label = Named(new QLabel(Q(rv::kLabelCaptions[size_t(i)])), rv::kLabelNames[size_t(i)]);
    QFont lf = label->font();
    lf.setBold(true);
    label->setFont(lf);
    label->setAlignment(Qt::AlignCenter);
    hh->addWidget(label, 1);
    *labels[i] = label;
  }
  right->addWidget(PanelHH);

  LabelPTR = Named(new QLabel, "LabelPTR");
  LabelPTR->hide();
  right->addWidget(LabelPTR);

  // The save area.
  PanelTLS = Named(new QFrame, "PanelTLS");
  PanelTLS->setFrameShape(QFrame::StyledPanel);
  auto* tls = new QVBoxLayout(PanelTLS);
  tls->setContentsMargins(4, 3, 4, 3);
  tls->setSpacing(1);
  auto* outRow = new QHBoxLayout;
  outRow->setSpacing(2);
  EditOUT = Named(new QLineEdit, "EditOUT");
  ImageSA = Named(new PictureButton, "ImageSA");
  ImageSA->setToolTip(Q("сохранить"));
  ImageGF = Named(new QLabel(PanelTLS), "ImageGF");
  ImageGF->setPixmap(pictures::Draw(pictures::Kind::Ready, kPictureSize));
  ImageGF->hide();
  ImageRF = Named(new QLabel(PanelTLS), "ImageRF");
  ImageRF->setPixmap(pictures::Draw(pictures::Kind::NotReady, kPictureSize));
  ImageRF->hide();
  ImageX = Named(new PictureButton, "ImageX");
  ImageX->SetPicture(pictures::Draw(pictures::Kind::Stop, kPictureSize), QStringLiteral("ImageX"));
  ImageX->setToolTip(Q("прервать"));
  KeepPlace(ImageX);
  ImageX->hide();
  GaugeSA = Named(new PieGauge, "GaugeSA");
  GaugeSA->setFixedSize(kPictureSize + 4, kPictureSize + 4);
  KeepPlace(GaugeSA);
  GaugeSA->hide();
  outRow->addWidget(EditOUT, 1);
  outRow->addWidget(ImageSA);
  outRow->addWidget(ImageX);
  outRow->addWidget(GaugeSA);
  tls->addLayout(outRow);
  SetSavePicture(false);

  CheckSAID = Named(new WrapCheckBox(Q("сохранить только индекс")), "CheckSAID");
  CheckSavePart = Named(new WrapCheckBox(Q("типа.. . я знаю, что делаю")), "CheckSavePart");
  CheckNoIDX1 = Named(new WrapCheckBox(Q("не сохранять индексный блок в файле")), "CheckNoIDX1");
  CheckNoFixSz =
      Named(new WrapCheckBox(Q("не исправлять размеры блоков в потоке")), "CheckNoFixSz");
  RadioZM =
      Named(new WrapRadioButton(Q("создать заголовок с минимально необходимым количеством данных")),
            "RadioZM");
  RadioZI =
      Named(new WrapRadioButton(Q("заголовок собирается из блоков исходного файла")), "RadioZI");
  RadioZO = Named(
      new WrapRadioButton(Q("всю шапку с заголовками переложить из старого файла без изменений")),
      "RadioZO");
  RadioZM->setChecked(true);
  for (QWidget* w : std::initializer_list<QWidget*>{CheckSAID, CheckSavePart, CheckNoIDX1,
                                                    CheckNoFixSz, RadioZM, RadioZI, RadioZO})
    tls->addWidget(w);
  right->addSpacing(4);
  right->addWidget(PanelTLS);
  right->addStretch(1);

  SplitterL->addWidget(PanelL);
  SplitterL->addWidget(PanelIDX1);
  SplitterL->setStretchFactor(0, 1);
  SplitterL->setStretchFactor(1, 0);
}

void RepairTab::SetSavePicture(bool ready) {
  QLabel* source = ready ? ImageGF : ImageRF;
  ImageSA->SetPicture(source->pixmap(), source->objectName());
}
