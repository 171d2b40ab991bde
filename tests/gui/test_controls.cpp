// Every window has its controls under the names the rest of the program and its users know
// them by, each of the type it is used as.

#include "gui/join/join_tab.h"
#include "gui/keyframes/keyframe_tab.h"
#include "gui/main_window/header_panels.h"
#include "gui_fixture.h"

namespace {

// The controls of one type, by name.
struct Controls {
  const QMetaObject* type;
  const char* names;
};

// The names under `root` that are missing or of another type, as "Name:Type" lines.
QStringList Missing(const QObject* root, std::initializer_list<Controls> table) {
  QStringList missing;
  for (const Controls& c : table)
    for (const QString& name : QString::fromLatin1(c.names).split(' ', Qt::SkipEmptyParts)) {
      const QObject* o = root->findChild<QObject*>(name);
      if (!o || !o->inherits(c.type->className()))
        missing << name + ':' + QLatin1String(c.type->className());
    }
  return missing;
}

#define T(Type) &Type::staticMetaObject

}  // namespace

class TestControls : public QObject {
  Q_OBJECT
  rvt::GuiFixture fx_{"gui_controls"};

 private Q_SLOTS:
  void init() { fx_.Reset(); }

  void mainWindowAndItsTabs() {
    const QStringList missing = Missing(
        &fx_.NewWindow(),
        {
            {T(QTabWidget), "PageControl1"},
            {T(QWidget),
             "TabSheetFIX TabSheetKK TabSheetJOIN TabSheetCFG PanelWD PanelL PanelHDR PanelIDX1 "
             "PanelSR"},
            {T(QSplitter), "SplitterL SplitterST"},
            {T(QPlainTextEdit), "MemoST"},
            {T(QTreeWidget), "TreeRIFF"},
            {T(QMenu), "PopupRIFF PopupJO"},
            {T(QAction), "MIdump MIavih MIstrh MIvstrf MIastrf MIread N1 N2 N3"},
            {T(QLineEdit), "EditIN EditOUT EditHB EditSUM"},
            {T(QPushButton),
             "BitBtnGO BitBtnIDX1 BitBtnFSD BitBtnIDX BitBtnREC BitBtnKT BitBtnSUM BitBtnLI "
             "BitBtnPL"},
            {T(PictureButton), "ImageWD ImageFI Image1 ImageSA ImageX ImageSUM ImageZ ImageStop"},
            {T(PieGauge), "GaugeSA GaugeKS GaugeZ"},
            {T(QCheckBox),
             "Check00db Check01wb CheckFI CheckHI CheckSAID CheckSavePart CheckNoIDX1 CheckNoFixSz "
             "CheckKR CheckOF CheckHB CheckLF CheckTT CheckPPSI CheckTNF CheckDRTS CheckADL "
             "CheckATD CheckKK CheckSH"},
            {T(QRadioButton), "RadioZM RadioZI RadioZO"},
            {T(QComboBox), "ComboIOBMX"},
            {T(DropDownComboBox), "ComboKK"},
            {T(EkranPanel), "EKRAN"},
            {T(JoinList), "JList"},
            {T(QFrame), "PanelHH PanelTLS PanelLL"},
            {T(HeaderPanel), "PanelAVIH PanelSTRH PanelVSTRF PanelASTRF"},
            {T(PictureButton),
             "ImageAAX ImageAAS ImageSSX ImageSSS Image2 ImageVFS Image3 ImageAFS"},
            {T(QLabel), "LabelTitleAVIH LabelSTRH LabelTitleVSTRF LabelTitleASTRF"},
            {T(QLabel),
             "ImageWO ImageGF ImageRF LabelAVIH LabelVSTRH LabelVSTRF LabelASTRH LabelASTRF "
             "LabelMOVI "
             "LabelIDX1 LabelPTR LabelIOBMX LabelSave LabelKT LabelJINFO LabelME Label42 LabelKK "
             "LabelPR LabelKA LabelKKP LabelIO"},
        });
    QVERIFY2(missing.isEmpty(), qPrintable(missing.join(' ')));
  }

  void headerPanelFields() {
    // Every field of a record has its text field and its caption beside it, named after it.
    int fields = 0;
    for (HeaderPanel* panel : fx_.NewWindow().findChildren<HeaderPanel*>())
      for (const HeaderPanel::Row& row : panel->Rows()) {
        QVERIFY2(row.label && row.edit &&
                     row.label->objectName() == "Label" + row.edit->objectName().mid(4),
                 qPrintable(row.edit ? row.edit->objectName() : panel->objectName()));
        ++fields;
      }
    QCOMPARE(fields, 52);  // of avih, a stream header, the video and the audio format
  }

  void streamCheckWindow() {
    const QStringList missing = Missing(
        &FormMI(),
        {
            {T(QFrame), "Panel1 PanelBB BevelH PanelEX PanelEH"},
            {T(QTableWidget), "StringER StringEX"},
            {T(QMenu), "PopupER"},
            {T(QAction), "MIdump MIremofix MIremonofix MIremoscan MIfix MIleave"},
            {T(PictureButton), "ImageEX ImageGO ImageSE ImageHAMMER ImageEXX"},
            {T(PieGauge), "GaugeIDX1"},
            {T(QCheckBox), "CheckHI CheckSA CheckRE CheckLI CheckDP CheckZR"},
            {T(QRadioButton), "RadioEQ RadioREIS RadioRENO RadioRERE RadioISME RadioISALL"},
            {T(QLineEdit), "EditSE EditMS"},
            {T(QLabel),
             "Label1 Label2 Label3 LabelMS LabelPTR ImageFF ImageGG ImageWA ImageST ImageST2 "
             "ImageXX ImageFR ImageDU ImageFG ImageRG ImageAT"},
        });
    QVERIFY2(missing.isEmpty(), qPrintable(missing.join(' ')));
  }

  void dumpWindowAndQuestionDialog() {
    QStringList missing = Missing(
        &FormDU(), {{T(QPlainTextEdit), "MemoH"}, {T(QRadioButton), "Radio16 Radio24 Radio32"}});
    missing +=
        Missing(&FormYesNo(), {{T(QLabel), "ImageQ ImageR ImageB ImageY ImageGLI LabelTXT ImageXX"},
                               {T(QPushButton), "BitBtnDa BitBtnNet"},
                               {T(QWidget), "PaintBoxR"}});
    QVERIFY2(missing.isEmpty(), qPrintable(missing.join(' ')));
  }
};

QTEST_MAIN(TestControls)
#include "test_controls.moc"
