// The header edit panels of the main window: opening from the tree's pop-up menu and from a
// double-click, the fields and their key filters, applying with the tree lines refreshed,
// the number error box that keeps a panel open, the codec-data fields, reading a rejected
// format, and the pop-up rules for parsed and reconstructed block tables.
#include <QAction>
#include <QApplication>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMessageBox>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>
#include <QTimer>
#include <QTreeWidget>
#include <QTreeWidgetItemIterator>

#include <atomic>
#include <chrono>
#include <memory>
#include <thread>

#include "core/config.h"
#include "gui/common/gui_host.h"
#include "gui/main_window/header_panels.h"
#include "gui/main_window/main_window.h"
#include "gui/common/widgets.h"
#include "core/messages.h"
#include "core/questions.h"
#include "core/tasks.h"
#include "fixtures/avi_builder.h"
#include "output/reconstruction.h"
#include "riff/blocks.h"
#include "riff/header.h"
#include "riff/header_edit.h"
#include "gui/common/question_dialog.h"

namespace {

QString U(const char* utf8) { return QString::fromUtf8(utf8); }

const QColor kBlue(0, 0, 255);

QColor Colour(const QLabel* label) { return label->palette().color(QPalette::WindowText); }

QStringList TreeTexts(QTreeWidget* tree) {
  QStringList texts;
  for (QTreeWidgetItemIterator it(tree); *it; ++it) texts << (*it)->text(0);
  return texts;
}

// The n-th line (0 first) whose text starts with prefix.
QTreeWidgetItem* FindLine(QTreeWidget* tree, const QString& prefix, int n = 0) {
  for (QTreeWidgetItemIterator it(tree); *it; ++it)
    if ((*it)->text(0).startsWith(prefix) && n-- == 0) return *it;
  return nullptr;
}

QStringList ChildTexts(QTreeWidgetItem* item) {
  QStringList texts;
  for (int i = 0; i < item->childCount(); ++i) texts << item->child(i)->text(0);
  return texts;
}

struct FileShape {
  rvt::Bytes videoExtra;  // codec data after the bitmap header
  std::string compression = "XVID";
  rvt::Bytes audioStrf = rvt::AudioStrf(85, 2, 44100, 0, rvt::Mp3CodecData());
  uint32_t vstrhFlags = 0;
};

// hdrl with avih, a video and an audio strl; movi with two chunks; idx1.
rvt::Bytes MakeFile(const FileShape& s) {
  using namespace rvt;
  StrhFields vf;
  vf.flags = s.vstrhFlags;
  StrhFields af;
  af.rate = 44100;
  return Build(Riff(
                   "AVI ",
                   {List("hdrl",
                         {Chunk("avih", AvihPayload({})),
                          List("strl", {Chunk("strh", StrhPayload("vids", "XVID", vf)),
                                        Chunk("strf", VideoStrf(320, 240, s.compression, 24,
                                                                s.videoExtra))}),
                          List("strl", {Chunk("strh", StrhPayload("auds", "", af)),
                                        Chunk("strf", s.audioStrf)})}),
                    List("movi", {Chunk("00dc", Pattern(400, 1)), Chunk("01wb", Pattern(200, 2))}),
                    Chunk("idx1", Idx1({{"00dc", 0x10, 4, 400}, {"01wb", 0, 412, 200}}))}))
      .bytes;
}

// Presses OK on the first message box that shows, and keeps its text.
class BoxCatcher : public QObject {
 public:
  QString text;
  QMessageBox::Icon icon = QMessageBox::NoIcon;
  int boxes = 0;
  BoxCatcher() {
    timer_.setInterval(10);
    QObject::connect(&timer_, &QTimer::timeout, [this] {
      for (QWidget* w : QApplication::topLevelWidgets()) {
        auto* box = qobject_cast<QMessageBox*>(w);
        if (!box || !box->isVisible()) continue;
        ++boxes;
        text = box->text();
        icon = box->icon();
        box->button(QMessageBox::Ok)->click();
      }
    });
    timer_.start();
  }

 private:
  QTimer timer_;
};

}  // namespace

class TestHeaderPanels : public QObject {
  Q_OBJECT

 private:
  std::unique_ptr<rvt::TempDir> dir_;
  GuiHost host_;
  std::unique_ptr<TFormMain> window_;
  HeaderPanels* panels_ = nullptr;

  TFormMain& W() { return *window_; }

  void OpenFile(const FileShape& shape, const char* name = "h.avi") {
    W().EditIN->setText(QString::fromStdString(dir_->Write(name, MakeFile(shape))));
    QTest::mouseClick(W().BitBtnGO, Qt::LeftButton);
    QVERIFY(rv::HasBlock("RIFF", "AVI "));
  }

  void Select(QTreeWidgetItem* item) {
    QVERIFY(item);
    W().TreeRIFF->setCurrentItem(item);
  }

  // Opens PopupRIFF as the right mouse button does, and lists its visible items.
  QStringList PopupItems() {
    W().PopupRIFF->popup(W().mapToGlobal(QPoint(10, 10)));
    QStringList names;
    for (QAction* a : W().PopupRIFF->actions())
      if (a->isVisible()) names << a->objectName();
    W().PopupRIFF->hide();
    return names;
  }

  // A real double-click on a tree line.
  void DoubleClick(QTreeWidgetItem* item) {
    QVERIFY(item);
    QTreeWidget* tree = W().TreeRIFF;
    tree->scrollToItem(item);
    // The part of the line in sight: with a wide font a long line reaches past the viewport.
    const QRect r = tree->visualItemRect(item).intersected(tree->viewport()->rect());
    QVERIFY(r.isValid());
    QSignalSpy spy(tree, &QTreeWidget::itemDoubleClicked);
    // The view takes a double-click only on the line its last press went to, as the first
    // click of a person's double-click does.
    QTest::mouseClick(tree->viewport(), Qt::LeftButton, {}, r.center());
    QTest::mouseDClick(tree->viewport(), Qt::LeftButton, {}, r.center());
    QCOMPARE(spy.count(), 1);
  }

  static QPoint Centred(const QWidget& window, const QWidget& panel) {
    return {std::max(0, (window.width() - panel.width()) / 2),
            std::max(0, (window.height() - panel.height()) / 2)};
  }

 private Q_SLOTS:
  void initTestCase() {
    dir_ = std::make_unique<rvt::TempDir>("gui_panels");
    rv::SetConfigPathOverride(dir_->File("avi.rivetta.cfg.ini"));
    host_.Install();
    TFormYesNo::SetAutoAnswer([](TFormYesNo&) { return 0; });
  }

  void init() {
    rv::ClearScriptedAnswers();
    rv::ClearMessages();
    window_ = std::make_unique<TFormMain>();
    window_->AttachHost(&host_);
    window_->show();
    QVERIFY(QTest::qWaitForWindowExposed(window_.get()));
    panels_ = window_->Panels();
    QVERIFY(panels_);
  }

  void cleanup() {
    for (int i = 0; i < 1000 && rv::WorkerExists(); ++i) {
      rv::RequestStop();
      QTest::qWait(10);
    }
    QVERIFY(!rv::WorkerExists());
    for (const char* name : rv::kTaskNames) rv::SetTaskRoutine(name, {});
    window_.reset();
    panels_ = nullptr;
  }

  void cleanupTestCase() {
    TFormYesNo::SetAutoAnswer({});
    rv::SetConfigPathOverride("");
  }

  // ---- the panels as built ------------------------------------------------------------------

  void fourHiddenPanelsOverTheWindowWithEveryField() {
    struct {
      const char* panel;
      const char* record;
      const char* title;
      const char* apply;
      const char* close;
      const char* titleBar;
    } const expected[] = {
        {"PanelAVIH", "avih", "A V I H", "ImageAAS", "ImageAAX", "PanelAAV"},
        {"PanelSTRH", "vstrh", "V . S T R H", "ImageSSS", "ImageSSX", "Panel2"},
        {"PanelVSTRF", "vstrf", "V . S T R F", "ImageVFS", "Image2", "Panel3"},
        {"PanelASTRF", "astrf", "A . S T R F", "ImageAFS", "Image3", "Panel4"},
    };
    for (const auto& e : expected) {
      auto* panel = W().findChild<HeaderPanel*>(e.panel);
      QVERIFY2(panel, e.panel);
      QCOMPARE(panel->parentWidget(), static_cast<QWidget*>(&W()));
      QVERIFY(!panel->isWindow());
      QVERIFY(panel->isHidden());
      QCOMPARE(panel->Title()->text(), QString(e.title));
      QVERIFY(panel->findChild<QWidget*>(e.titleBar));
      QCOMPARE(panel->findChild<PictureButton*>(e.apply), panel->ApplyButton());
      QCOMPARE(panel->findChild<PictureButton*>(e.close), panel->CloseButton());
      int fields = 0;
      for (const rv::FieldDef& f : rv::EditableFields()) {
        if (std::string(f.record) != e.record) continue;
        ++fields;
        auto* edit = panel->findChild<QLineEdit*>(f.edit);
        QVERIFY2(edit, f.edit);
        QLabel* label = panel->LabelOf(f.edit);
        QVERIFY2(label, f.edit);
        QCOMPARE(label->text(), U(f.label));
        QCOMPARE(label->parentWidget(), edit->parentWidget());
      }
      QCOMPARE(int(panel->Rows().size()), fields);
    }
    QCOMPARE(W().findChild<QLabel*>("LabelSTRH"), panels_->LabelSTRH);
    QCOMPARE(W().findChild<QLabel*>("LabelVFcsd")->text(), QString("Codec Specific Data:"));
    QCOMPARE(W().findChild<QLabel*>("LabelAFcsd")->text(), QString("Codec Specific Data:"));
    // Some captions as the user reads them.
    QCOMPARE(panels_->PanelSTRH->LabelOf("EditSQ")->text(), QString("Qualiy (hex):"));
    QCOMPARE(panels_->PanelSTRH->LabelOf("EditSXZ1")->text(), U("xз 1 (hex):"));
    QCOMPARE(panels_->PanelVSTRF->LabelOf("EditVFhr")->text(),
             QString("Horizontal resolution of target device:"));
    // Four characters at most for the texts of four bytes and for nBlockAlign.
    for (const char* name : {"EditAsig", "EditSsig", "EditSDT", "EditSDH", "EditVFsig",
                             "EditVFcf", "EditAFsig", "EditAFba"})
      QCOMPARE(W().findChild<QLineEdit*>(name)->maxLength(), 4);

    struct {
      const char* name;
      const char* caption;
    } const items[] = {{"MIavih", "изменить параметры 'avih'"},
                       {"MIstrh", "изменить параметры 'strh'"},
                       {"MIvstrf", "изменить параметры 'strf' video"},
                       {"MIastrf", "изменить параметры 'strf' audio"},
                       {"MIread", "прочитать сколько есть"},
                       {"MIdump", "посмотреть dump"}};
    QList<QAction*> actions = W().PopupRIFF->actions();
    QCOMPARE(actions.size(), 6);
    for (int i = 0; i < 6; ++i) {
      QCOMPARE(actions[i]->objectName(), QString(items[i].name));
      QCOMPARE(actions[i]->text(), U(items[i].caption));
    }
  }

  // ---- the pop-up menu ------------------------------------------------------------------------

  void popupOffersTheEditorOfTheSelectedBlock() {
    OpenFile({});
    QTreeWidget* tree = W().TreeRIFF;
    Select(FindLine(tree, "'avih'"));
    QCOMPARE(PopupItems(), (QStringList{"MIavih", "MIdump"}));
    Select(FindLine(tree, "'strh'", 0));
    QCOMPARE(PopupItems(), (QStringList{"MIstrh", "MIdump"}));
    Select(FindLine(tree, "'strh'", 1));
    QCOMPARE(PopupItems(), (QStringList{"MIstrh", "MIdump"}));
    // Both formats were read (blue labels): no reading of a rejected block.
    Select(FindLine(tree, "'strf'", 0));
    QCOMPARE(PopupItems(), (QStringList{"MIvstrf", "MIdump"}));
    Select(FindLine(tree, "'strf'", 1));
    QCOMPARE(PopupItems(), (QStringList{"MIastrf", "MIdump"}));
    // A field line and a list line: only the dump.
    Select(FindLine(tree, "TimeBetweenFrames = "));
    QCOMPARE(PopupItems(), (QStringList{"MIdump"}));
    Select(FindLine(tree, "'LIST'"));
    QCOMPARE(PopupItems(), (QStringList{"MIdump"}));
  }

  void popupOffersReadingARejectedFormat() {
    FileShape shape;
    shape.compression = "a bc";                                 // no FOURCC: video rejected
    shape.audioStrf = rvt::AudioStrf(1, 2, 44100, 16, {}, false);  // 16 bytes: audio rejected
    OpenFile(shape);
    QVERIFY(Colour(W().LabelVSTRF) != kBlue);
    QVERIFY(Colour(W().LabelASTRF) != kBlue);
    Select(FindLine(W().TreeRIFF, "'strf'", 0));
    QCOMPARE(PopupItems(), (QStringList{"MIvstrf", "MIread", "MIdump"}));
    Select(FindLine(W().TreeRIFF, "'strf'", 1));
    QCOMPARE(PopupItems(), (QStringList{"MIastrf", "MIread", "MIdump"}));
  }

  void readingARejectedVideoFormat() {
    FileShape shape;
    shape.compression = "a bc";
    OpenFile(shape);
    QTreeWidgetItem* strf = FindLine(W().TreeRIFF, "'strf'", 0);
    Select(strf);
    QCOMPARE(strf->childCount(), 0);
    panels_->MIread->trigger();
    // 40 bytes of the block, zeros after them, the size field 44.
    const rv::VideoStrfRecord& r = rv::Header().vstrf;
    QCOMPARE(r.size, 44u);
    QCOMPARE(r.biSize, 40u);
    QCOMPARE(r.biWidth, 320u);
    QCOMPARE(r.codecData, (rv::Bytes{0, 0, 0, 0}));
    QCOMPARE(Colour(W().LabelVSTRF), kBlue);
    strf = FindLine(W().TreeRIFF, "'strf'", 0);
    QVERIFY(ChildTexts(strf).contains("biWidth = 320"));
    QVERIFY(ChildTexts(strf).contains("CodecSpecificData = 00,00,00,00"));
    QVERIFY(strf->isExpanded());
    // Now the format is read: the pop-up no longer offers the reading.
    Select(strf);
    QCOMPARE(PopupItems(), (QStringList{"MIvstrf", "MIdump"}));
  }

  void readingARejectedAudioFormat() {
    FileShape shape;
    shape.audioStrf = rvt::AudioStrf(1, 2, 44100, 16, {}, false);
    OpenFile(shape);
    Select(FindLine(W().TreeRIFF, "'strf'", 1));
    panels_->MIread->trigger();
    const rv::AudioStrfRecord& r = rv::Header().astrf;
    QCOMPARE(r.wFormatTag, uint16_t(1));
    QCOMPARE(r.nSamplesPerSec, 44100u);
    QCOMPARE(r.size, 18u);
    QCOMPARE(Colour(W().LabelASTRF), kBlue);
    QVERIFY(ChildTexts(FindLine(W().TreeRIFF, "'strf'", 1)).contains("wFormatTag = 1"));
  }

  void reconstructedTablesOfferTheFormatEditorsBySize() {
    // A video format with 4 bytes of codec data (52) and an audio one with 4 (30).
    FileShape shape;
    shape.videoExtra = {1, 2, 3, 4};
    shape.audioStrf = rvt::AudioStrf(85, 2, 44100, 0, {9, 8, 7, 6});
    rvt::Bytes bytes = rvt::Filled(100, 0x5A);
    rvt::AppendBytes(bytes, MakeFile(shape));
    W().EditIN->setText(QString::fromStdString(dir_->Write("rec.avi", bytes)));
    rv::SetTaskRoutine("reconstruction", rv::reconstruction);
    QSignalSpy done(&W(), &TFormMain::taskCompleted);
    QTest::mouseClick(W().BitBtnREC, Qt::LeftButton);
    QTRY_COMPARE(done.count(), 1);
    QCOMPARE(done.at(0).at(1).toInt(), 1);
    QCOMPARE(rv::Blocks().front().Name, std::string("ROOT"));

    QTreeWidget* tree = W().TreeRIFF;
    QTreeWidgetItem* vstrf = FindLine(tree, "'strf' 52");
    QTreeWidgetItem* astrf = FindLine(tree, "'strf' 30");
    QVERIFY(vstrf && astrf);
    Select(vstrf);
    QCOMPARE(PopupItems(), (QStringList{"MIvstrf", "MIdump"}));
    Select(astrf);
    QCOMPARE(PopupItems(), (QStringList{"MIastrf", "MIdump"}));
    Select(FindLine(tree, "'avih'"));
    QCOMPARE(PopupItems(), (QStringList{"MIavih", "MIdump"}));

    // No stream list around a reconstructed format: its double-click opens nothing.
    DoubleClick(vstrf);
    QVERIFY(panels_->PanelVSTRF->isHidden());
    QVERIFY(panels_->PanelASTRF->isHidden());
    // The menu item opens the editor all the same, and its apply refreshes the block.
    Select(vstrf);
    panels_->MIvstrf->trigger();
    QVERIFY(panels_->PanelVSTRF->isVisible());
    QCOMPARE(panels_->PanelVSTRF->Edit("EditVFcsd")->text(), QString("01,02,03,04"));
    panels_->PanelVSTRF->Edit("EditVFcsd")->setText("0A");
    QVERIFY(panels_->ImageVFSClick());
    QCOMPARE(rv::Header().vstrf.codecData, (rv::Bytes{0x0A}));
    QVERIFY(ChildTexts(FindLine(tree, "'strf' 52")).contains("CodecSpecificData = 0A"));
  }

  // ---- the avih panel -------------------------------------------------------------------------

  void avihPanelFromTheMenuAppliesAndRefreshesTheTree() {
    OpenFile({});
    QTreeWidget* tree = W().TreeRIFF;
    QTreeWidgetItem* avih = FindLine(tree, "'avih'");
    Select(avih);
    panels_->MIavih->trigger();
    HeaderPanel* p = panels_->PanelAVIH;
    QVERIFY(p->isVisible());
    QCOMPARE(p->pos(), Centred(W(), *p));
    QCOMPARE(p->Edit("EditAsig")->text(), QString("avih"));
    QCOMPARE(p->Edit("EditATBF")->text(), QString("40000"));
    QCOMPARE(p->Edit("EditAF")->text(), QString::number(0x910));
    QCOMPARE(p->Edit("EditAW")->text(), QString("320"));
    QCOMPARE(panels_->RecordOf(p), std::string("avih"));

    p->Edit("EditATBF")->setText("20000");
    p->Edit("EditAH")->setText("-1");
    QTest::mouseClick(p->ApplyButton(), Qt::LeftButton);
    QVERIFY(p->isHidden());
    QCOMPARE(rv::Header().avih.TimeBetweenFrames, 20000u);
    QCOMPARE(rv::Header().avih.Height, 0xFFFFFFFFu);
    avih = FindLine(tree, "'avih'");
    QCOMPARE(avih->text(0), QString("'avih' 64"));
    const QStringList lines = ChildTexts(avih);
    QCOMPARE(lines.size(), 14);
    QCOMPARE(lines.first(), QString("TimeBetweenFrames = 20000"));
    QVERIFY(lines.contains("Height = 4294967295"));
    // The old field lines are gone from the tree.
    QVERIFY(!TreeTexts(tree).contains("TimeBetweenFrames = 40000"));
    QCOMPARE(TreeTexts(tree).filter("TimeBetweenFrames = ").size(), 1);
    QVERIFY(avih->isExpanded());
    // Opened again, it shows the record as it is now (a negative number for 2^31 and up).
    Select(avih);
    panels_->MIavih->trigger();
    QCOMPARE(p->Edit("EditATBF")->text(), QString("20000"));
    QCOMPARE(p->Edit("EditAH")->text(), QString("-1"));
  }

  void avihPanelFromADoubleClickAndItsClosePicture() {
    OpenFile({});
    DoubleClick(FindLine(W().TreeRIFF, "'avih'"));
    HeaderPanel* p = panels_->PanelAVIH;
    QVERIFY(p->isVisible());
    p->Edit("EditATBF")->setText("123");
    QTest::mouseClick(p->CloseButton(), Qt::LeftButton);
    QVERIFY(p->isHidden());
    // Closed without storing.
    QCOMPARE(rv::Header().avih.TimeBetweenFrames, 40000u);
    QVERIFY(TreeTexts(W().TreeRIFF).contains("TimeBetweenFrames = 40000"));
  }

  void aDoubleClickOnAFieldLineOpensNothing() {
    OpenFile({});
    DoubleClick(FindLine(W().TreeRIFF, "TimeBetweenFrames = "));
    for (HeaderPanel* p : {panels_->PanelAVIH, panels_->PanelSTRH, panels_->PanelVSTRF,
                           panels_->PanelASTRF})
      QVERIFY(p->isHidden());
  }

  void aBadNumberShowsTheBoxAndKeepsThePanelOpen() {
    OpenFile({});
    Select(FindLine(W().TreeRIFF, "'avih'"));
    panels_->MIavih->trigger();
    HeaderPanel* p = panels_->PanelAVIH;
    p->Edit("EditATBF")->setText("30000");
    p->Edit("EditAMDR")->setText("-");
    p->Edit("EditAW")->setText("640");
    const size_t questions = rv::AskedQuestions().size();
    {
      BoxCatcher catcher;
      QVERIFY(!panels_->ImageAASClick());
      QCOMPARE(catcher.boxes, 1);
      QVERIFY(catcher.text.contains("'-'"));
      QCOMPARE(catcher.icon, QMessageBox::Warning);
    }
    QVERIFY(p->isVisible());
    // The fields before the bad one are stored, the ones after it are not; the tree still
    // shows the lines from before.
    QCOMPARE(rv::Header().avih.TimeBetweenFrames, 30000u);
    QCOMPARE(rv::Header().avih.Width, 320u);
    QVERIFY(TreeTexts(W().TreeRIFF).contains("TimeBetweenFrames = 40000"));
    // The box is not the question dialog.
    QCOMPARE(rv::AskedQuestions().size(), questions);

    // An empty field is no number either.
    p->Edit("EditAMDR")->setText("");
    {
      BoxCatcher catcher;
      QTest::mouseClick(p->ApplyButton(), Qt::LeftButton);
      QCOMPARE(catcher.boxes, 1);
    }
    QVERIFY(p->isVisible());

    // Corrected, the apply goes through.
    p->Edit("EditAMDR")->setText("77");
    {
      BoxCatcher catcher;
      QVERIFY(panels_->ImageAASClick());
      QCOMPARE(catcher.boxes, 0);
    }
    QVERIFY(p->isHidden());
    QCOMPARE(rv::Header().avih.Width, 640u);
    QVERIFY(TreeTexts(W().TreeRIFF).contains("MaximumDataRate = 77"));
  }

  void applyRefreshesTheBlockItWasOpenedFor() {
    OpenFile({});
    QTreeWidget* tree = W().TreeRIFF;
    Select(FindLine(tree, "'avih'"));
    panels_->MIavih->trigger();
    panels_->PanelAVIH->Edit("EditATBF")->setText("33333");
    // The selection moves on before the apply.
    QTreeWidgetItem* strh = FindLine(tree, "'strh'");
    Select(strh);
    const QStringList strhBefore = ChildTexts(strh);
    QVERIFY(panels_->ImageAASClick());
    QVERIFY(ChildTexts(FindLine(tree, "'avih'")).contains("TimeBetweenFrames = 33333"));
    QCOMPARE(ChildTexts(FindLine(tree, "'strh'")), strhBefore);
    QCOMPARE(FindLine(tree, "'strh'")->text(0), QString("'strh' 64 'vids'"));
    // The selection stays where the user put it.
    QCOMPARE(tree->currentItem()->text(0), QString("'strh' 64 'vids'"));
  }

  // ---- the stream header panel ----------------------------------------------------------------

  void strhPanelTakesTheRecordOfItsBlock() {
    FileShape shape;
    shape.vstrhFlags = 0x910;
    OpenFile(shape);
    QTreeWidget* tree = W().TreeRIFF;
    HeaderPanel* p = panels_->PanelSTRH;

    // The video stream header, from a double-click.
    DoubleClick(FindLine(tree, "'strh'", 0));
    QVERIFY(p->isVisible());
    QCOMPARE(p->pos(), Centred(W(), *p));
    QCOMPARE(panels_->LabelSTRH->text(), QString("V . S T R H"));
    QCOMPARE(panels_->RecordOf(p), std::string("vstrh"));
    QCOMPARE(p->Edit("EditSDT")->text(), QString("vids"));
    QCOMPARE(p->Edit("EditSDH")->text(), QString("XVID"));
    QCOMPARE(p->Edit("EditSF")->text(), QString("00000910"));
    QCOMPARE(p->Edit("EditSQ")->text(), QString("FFFFFFFF"));
    // Flags unchanged keep hex 910.
    p->Edit("EditSDH")->setText("DIVX");
    QVERIFY(panels_->ImageSSSClick());
    QCOMPARE(rv::Header().vstrh.Flags, 0x910u);
    QCOMPARE(rv::Header().vstrh.DeviceHandler, std::string("DIVX"));
    QTreeWidgetItem* vstrh = FindLine(tree, "'strh'", 0);
    QCOMPARE(vstrh->text(0), QString("'strh' 64 'vids'"));
    QVERIFY(ChildTexts(vstrh).contains("DeviceHandler = DIVX"));
    QVERIFY(ChildTexts(vstrh).contains("Flags = 00000910(h)"));

    // Flags typed in lower case, bad characters count as 0.
    Select(vstrh);
    panels_->MIstrh->trigger();
    p->Edit("EditSF")->setText("ffffffff");
    p->Edit("EditSQ")->setText("1z");
    QVERIFY(panels_->ImageSSSClick());
    QCOMPARE(rv::Header().vstrh.Flags, 0xFFFFFFFFu);
    QCOMPARE(rv::Header().vstrh.Quality, 0x10u);
    QVERIFY(ChildTexts(FindLine(tree, "'strh'", 0)).contains("Flags = FFFFFFFF(h)"));

    // The audio stream header, from the menu: its own record and title.
    const rv::StrhRecord videoBefore = rv::Header().vstrh;
    Select(FindLine(tree, "'strh'", 1));
    panels_->MIstrh->trigger();
    QCOMPARE(panels_->LabelSTRH->text(), QString("A . S T R H"));
    QCOMPARE(panels_->RecordOf(p), std::string("astrh"));
    QCOMPARE(p->Edit("EditSDT")->text(), QString("auds"));
    QCOMPARE(p->Edit("EditSDR")->text(), QString("44100"));
    p->Edit("EditSDR")->setText("48000");
    QVERIFY(panels_->ImageSSSClick());
    QCOMPARE(rv::Header().astrh.DataRate, 48000u);
    QCOMPARE(rv::Header().vstrh.DataRate, videoBefore.DataRate);
    QCOMPARE(rv::Header().vstrh.DeviceHandler, videoBefore.DeviceHandler);
    QTreeWidgetItem* astrh = FindLine(tree, "'strh'", 1);
    QCOMPARE(astrh->text(0), QString("'strh' 64 'auds'"));
    QVERIFY(ChildTexts(astrh).contains("DataRate = 48000"));
    QVERIFY(!ChildTexts(FindLine(tree, "'strh'", 0)).contains("DataRate = 48000"));

    // Back on the video block the title is the video one again.
    Select(FindLine(tree, "'strh'", 0));
    panels_->MIstrh->trigger();
    QCOMPARE(panels_->LabelSTRH->text(), QString("V . S T R H"));
  }

  // ---- the format panels ----------------------------------------------------------------------

  void videoFormatPanelAndItsCodecData() {
    OpenFile({});  // no video codec data
    QTreeWidget* tree = W().TreeRIFF;
    DoubleClick(FindLine(tree, "'strf'", 0));
    HeaderPanel* p = panels_->PanelVSTRF;
    QVERIFY(p->isVisible());
    QCOMPARE(p->pos(), Centred(W(), *p));
    QCOMPARE(p->Edit("EditVFcf")->text(), QString("XVID"));
    QCOMPARE(p->Edit("EditVFnp")->text(), QString("1"));
    QLineEdit* csd = p->Edit("EditVFcsd");
    QVERIFY(!csd->isEnabled());
    QVERIFY(csd->text().isEmpty());
    QCOMPARE(csd->palette().color(QPalette::Base), QColor(192, 192, 192));
    QCOMPARE(p->LabelOf("EditVFcsd")->palette().color(QPalette::WindowText),
             QColor(128, 128, 128));
    // Planes keep their low 16 bits.
    p->Edit("EditVFnp")->setText("65537");
    QVERIFY(panels_->ImageVFSClick());
    QCOMPARE(rv::Header().vstrf.biPlanes, uint16_t(1));
    QCOMPARE(rv::Header().vstrf.size, 40u);

    // With codec data the field is open; a pasted text with blanks and bad tokens keeps the
    // bytes it can read.
    FileShape shape;
    shape.videoExtra = {0xAB, 0xCD};
    OpenFile(shape, "v2.avi");
    QVERIFY(p->isHidden());  // opening a file closes the panels
    DoubleClick(FindLine(tree, "'strf'", 0));
    QVERIFY(csd->isEnabled());
    QCOMPARE(csd->text(), QString("AB,CD"));
    QCOMPARE(csd->palette().color(QPalette::Base), QColor(Qt::white));
    QVERIFY(p->LabelOf("EditVFcsd")->palette().color(QPalette::WindowText) !=
            QColor(128, 128, 128));
    csd->setText("01, 2, zz, 0a , , FF");
    QVERIFY(panels_->ImageVFSClick());
    QCOMPARE(rv::Header().vstrf.codecData, (rv::Bytes{0x01, 0x0A, 0xFF}));
    QCOMPARE(rv::Header().vstrf.size, 43u);
    QTreeWidgetItem* strf = FindLine(tree, "'strf'", 0);
    QCOMPARE(strf->text(0), QString("'strf' 50"));  // the block's size, not the record's
    QVERIFY(ChildTexts(strf).contains("CodecSpecificData = 01,0A,FF"));
  }

  void audioFormatPanelAndItsCodecData() {
    OpenFile({});  // MPEG layer 3: cbSize 12
    QTreeWidget* tree = W().TreeRIFF;
    Select(FindLine(tree, "'strf'", 1));
    panels_->MIastrf->trigger();
    HeaderPanel* p = panels_->PanelASTRF;
    QVERIFY(p->isVisible());
    QCOMPARE(p->pos(), Centred(W(), *p));
    QCOMPARE(p->Edit("EditAFft")->text(), QString("85"));
    QCOMPARE(p->Edit("EditAFcbs")->text(), QString("12"));
    QLineEdit* csd = p->Edit("EditAFcsd");
    QVERIFY(csd->isEnabled());
    QCOMPARE(csd->text(), QString::fromStdString(rv::AudioCodecText(rv::Header().astrf)));
    QCOMPARE(csd->text().split(',').size(), 12);
    QVERIFY(p->LabelOf("EditAFcsd")->isEnabled());

    // cbSize 3 with two tokens: the missing byte and the bad one are zeros.
    p->Edit("EditAFcbs")->setText("3");
    csd->setText("01,zz");
    QVERIFY(panels_->ImageAFSClick());
    QCOMPARE(rv::Header().astrf.codecData, (rv::Bytes{0x01, 0x00, 0x00}));
    QCOMPARE(rv::Header().astrf.size, 21u);
    QTreeWidgetItem* strf = FindLine(tree, "'strf'", 1);
    QVERIFY(ChildTexts(strf).contains("cbSize = 3"));
    QVERIFY(ChildTexts(strf).contains("CodecSpecificData = 01,00,00"));

    // cbSize "-": no codec data at all; opened again the field is closed.
    Select(strf);
    panels_->MIastrf->trigger();
    QCOMPARE(csd->text(), QString("01,00,00"));
    p->Edit("EditAFcbs")->setText("-");
    QVERIFY(panels_->ImageAFSClick());
    QCOMPARE(rv::Header().astrf.cbSize, uint16_t(0));
    QVERIFY(rv::Header().astrf.codecData.empty());
    QCOMPARE(rv::Header().astrf.size, 18u);
    QVERIFY(!ChildTexts(FindLine(tree, "'strf'", 1)).join('\n').contains("CodecSpecificData"));
    Select(FindLine(tree, "'strf'", 1));
    panels_->MIastrf->trigger();
    QVERIFY(!csd->isEnabled());
    QVERIFY(csd->text().isEmpty());
    QVERIFY(!p->LabelOf("EditAFcsd")->isEnabled());
  }

  void aCutShortAudioFormatMarksTheMissingBytes() {
    OpenFile({});
    rv::Header().astrf.codecData.resize(2);  // cbSize stays 12
    Select(FindLine(W().TreeRIFF, "'strf'", 1));
    panels_->MIastrf->trigger();
    const QStringList tokens = panels_->PanelASTRF->Edit("EditAFcsd")->text().split(',');
    QCOMPARE(tokens.size(), 12);
    QCOMPARE(tokens.mid(2), QStringList(10, "??"));
  }

  // ---- key filters ------------------------------------------------------------------------------

  void keyFiltersDropRefusedCharacters() {
    FileShape shape;
    shape.videoExtra = {1};
    OpenFile(shape);
    QTreeWidget* tree = W().TreeRIFF;

    Select(FindLine(tree, "'avih'"));
    panels_->MIavih->trigger();
    QLineEdit* decimal = panels_->PanelAVIH->Edit("EditATBF");
    decimal->clear();
    QTest::keyClicks(decimal, "12a-3.b x9");
    QCOMPARE(decimal->text(), QString("12-39"));
    QTest::keyClick(decimal, Qt::Key_Backspace);  // control characters pass
    QCOMPARE(decimal->text(), QString("12-3"));
    // The other decimal kinds: 16-bit and cbSize.
    QLineEdit* sig = panels_->PanelAVIH->Edit("EditAsig");
    sig->clear();
    QTest::keyClicks(sig, "x-y!z");  // no filter, four characters
    QCOMPARE(sig->text(), QString("x-y!"));
    QTest::mouseClick(panels_->PanelAVIH->CloseButton(), Qt::LeftButton);

    Select(FindLine(tree, "'strh'"));
    panels_->MIstrh->trigger();
    QLineEdit* hex = panels_->PanelSTRH->Edit("EditSF");
    hex->clear();
    QTest::keyClicks(hex, "0fG1z9A-,");
    QCOMPARE(hex->text(), QString("0f19A"));

    Select(FindLine(tree, "'strf'", 0));
    panels_->MIvstrf->trigger();
    QLineEdit* planes = panels_->PanelVSTRF->Edit("EditVFnp");
    planes->clear();
    QTest::keyClicks(planes, "1f,2");
    QCOMPARE(planes->text(), QString("12"));
    QLineEdit* codec = panels_->PanelVSTRF->Edit("EditVFcsd");
    QVERIFY(codec->isEnabled());
    codec->clear();
    QTest::keyClicks(codec, "01,ZZ,0a x,fF-");
    QCOMPARE(codec->text(), QString("01,,0a,fF"));

    Select(FindLine(tree, "'strf'", 1));
    panels_->MIastrf->trigger();
    QLineEdit* cb = panels_->PanelASTRF->Edit("EditAFcbs");
    cb->clear();
    QTest::keyClicks(cb, "-1a2");
    QCOMPARE(cb->text(), QString("-12"));
  }

  void keyFilterSets() {
    using keyfilter::Accepts;
    QCOMPARE(QString(keyfilter::AcceptedBy(rv::FieldKind::Signed32)), QString("0123456789-"));
    QCOMPARE(QString(keyfilter::AcceptedBy(rv::FieldKind::Low16)), QString("0123456789-"));
    QCOMPARE(QString(keyfilter::AcceptedBy(rv::FieldKind::CbSize)), QString("0123456789-"));
    QCOMPARE(QString(keyfilter::AcceptedBy(rv::FieldKind::Hex32)),
             QString("0123456789abcdefABCDEF"));
    QCOMPARE(QString(keyfilter::AcceptedBy(rv::FieldKind::VideoCodec)),
             QString("0123456789ABCDEFabcdef,"));
    QCOMPARE(QString(keyfilter::AcceptedBy(rv::FieldKind::AudioCodec)),
             QString("0123456789ABCDEFabcdef,"));
    QCOMPARE(QString(keyfilter::AcceptedBy(rv::FieldKind::Chars4)), QString());
    QVERIFY(Accepts(QString(QChar(8)), keyfilter::kDecimal));
    QVERIFY(Accepts(QString(QChar(22)), keyfilter::kHex));  // Ctrl+V
    QVERIFY(!Accepts(" ", keyfilter::kCodecData));
    QVERIFY(!Accepts(U("ж"), keyfilter::kHex));
    QVERIFY(Accepts(U("ж"), ""));
  }

  // ---- panel behaviour --------------------------------------------------------------------------

  void panelsAreNotModalAndMoveByTheirTitleBars() {
    OpenFile({});
    Select(FindLine(W().TreeRIFF, "'avih'"));
    panels_->MIavih->trigger();
    HeaderPanel* p = panels_->PanelAVIH;
    QVERIFY(p->isVisible());
    QVERIFY(!QApplication::activeModalWidget());
    // The rest of the window still works while the panel is open.
    Select(FindLine(W().TreeRIFF, "'strh'"));
    panels_->MIstrh->trigger();
    QVERIFY(panels_->PanelSTRH->isVisible());
    QVERIFY(p->isVisible());

    // Drag the title bar by (30, 20).
    p->move(50, 40);
    QWidget* bar = p->TitleBar();
    const QPoint at(15, bar->height() / 2);
    auto send = [&](QWidget* target, QEvent::Type type, QPoint local, Qt::MouseButton button,
                    Qt::MouseButtons buttons) {
      QMouseEvent e(type, QPointF(local), QPointF(target->mapToGlobal(local)), button, buttons,
                    Qt::NoModifier);
      QApplication::sendEvent(target, &e);
    };
    send(bar, QEvent::MouseButtonPress, at, Qt::LeftButton, Qt::LeftButton);
    send(bar, QEvent::MouseMove, at + QPoint(30, 20), Qt::NoButton, Qt::LeftButton);
    QCOMPARE(p->pos(), QPoint(80, 60));
    send(bar, QEvent::MouseButtonRelease, at + QPoint(30, 20), Qt::LeftButton, Qt::NoButton);
    // After the release a move does nothing.
    send(bar, QEvent::MouseMove, at + QPoint(60, 60), Qt::NoButton, Qt::NoButton);
    QCOMPARE(p->pos(), QPoint(80, 60));
    // The title text moves it too, and a panel cannot leave the window by its top.
    QLabel* title = p->Title();
    send(title, QEvent::MouseButtonPress, QPoint(2, 2), Qt::LeftButton, Qt::LeftButton);
    send(title, QEvent::MouseMove, QPoint(2, -500), Qt::NoButton, Qt::LeftButton);
    QCOMPARE(p->pos().y(), 0);
    send(title, QEvent::MouseButtonRelease, QPoint(2, -500), Qt::LeftButton, Qt::NoButton);
  }

  void treeLinesCannotBeEdited() {
    OpenFile({});
    QTreeWidget* tree = W().TreeRIFF;
    QCOMPARE(tree->editTriggers(), QAbstractItemView::NoEditTriggers);
    for (QTreeWidgetItemIterator it(tree); *it; ++it)
      QVERIFY(!((*it)->flags() & Qt::ItemIsEditable));
    QTreeWidgetItem* avih = FindLine(tree, "'avih'");
    Select(avih);
    panels_->MIavih->trigger();
    QVERIFY(panels_->ImageAASClick());
    for (QTreeWidgetItemIterator it(tree); *it; ++it)
      QVERIFY(!((*it)->flags() & Qt::ItemIsEditable));
    tree->setFocus();
    tree->setCurrentItem(FindLine(tree, "'avih'"));
    QTest::keyClick(tree, Qt::Key_F2);
    QCoreApplication::processEvents();
    QVERIFY(tree->viewport()->findChildren<QLineEdit*>().isEmpty());  // no in-place editor
    QCOMPARE(FindLine(tree, "'avih'")->text(0), QString("'avih' 64"));
  }

  void applyIsRefusedWhileATaskRuns() {
    OpenFile({});
    Select(FindLine(W().TreeRIFF, "'avih'"));
    panels_->MIavih->trigger();
    panels_->PanelAVIH->Edit("EditATBF")->setText("1");
    std::atomic<bool> running{false};
    rv::SetTaskRoutine("createIDX1", [&] {
      running = true;
      while (!rv::StopRequested()) std::this_thread::sleep_for(std::chrono::milliseconds(1));
      return false;
    });
    QVERIFY(W().StartTask("createIDX1"));
    QTRY_VERIFY(running);
    QVERIFY(!panels_->ImageAASClick());
    QVERIFY(panels_->PanelAVIH->isVisible());
    QCOMPARE(rv::Header().avih.TimeBetweenFrames, 40000u);
    rv::RequestStop();
    QTRY_VERIFY(!rv::WorkerExists());
    QVERIFY(panels_->ImageAASClick());
    QCOMPARE(rv::Header().avih.TimeBetweenFrames, 1u);
  }

  // Pictures of the panels for a person to look at, into the directory named by
  // RIVETTA_PANEL_GRABS (panel.png is the avih panel).
  void grabsOfThePanels() {
    const QString out = qEnvironmentVariable("RIVETTA_PANEL_GRABS");
    if (out.isEmpty()) QSKIP("RIVETTA_PANEL_GRABS not set");
    FileShape shape;
    shape.videoExtra = {0x12, 0x34};
    OpenFile(shape);
    QTreeWidget* tree = W().TreeRIFF;
    Select(FindLine(tree, "'avih'"));
    panels_->MIavih->trigger();
    QVERIFY(W().grab().save(out + "/panel_window.png"));
    QVERIFY(panels_->PanelAVIH->grab().save(out + "/panel.png"));
    Select(FindLine(tree, "'strh'", 1));
    panels_->MIstrh->trigger();
    QVERIFY(panels_->PanelSTRH->grab().save(out + "/panel_strh.png"));
    Select(FindLine(tree, "'strf'", 0));
    panels_->MIvstrf->trigger();
    QVERIFY(panels_->PanelVSTRF->grab().save(out + "/panel_vstrf.png"));
    Select(FindLine(tree, "'strf'", 1));
    panels_->MIastrf->trigger();
    QVERIFY(panels_->PanelASTRF->grab().save(out + "/panel_astrf.png"));
  }
};

QTEST_MAIN(TestHeaderPanels)
#include "test_header_panels.moc"
