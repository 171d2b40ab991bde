// The program with windows: the main window and the auxiliary windows, the engine's host for
// them, and the task routines behind the worker. A file named on the command line is put into
// the file-name field and read at once.
#include <QApplication>
#include <QFileInfo>
#include <QFont>
#include <QIcon>
#include <QLibraryInfo>
#include <QLineEdit>
#include <QLocale>
#include <QTimer>
#include <QTranslator>

#include "app/task_table.h"
#include "gui/common/diagram_window.h"
#include "gui/common/dump_window.h"
#include "gui/common/gui_host.h"
#include "gui/common/question_dialog.h"
#include "gui/join/join_tab.h"
#include "gui/main_window/main_window.h"
#include "gui/stream_check/stream_check_window.h"

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  QApplication::setApplicationName(QStringLiteral("AVI Rivetta"));
  // The installed desktop entry and icon (Wayland and the task bar find the window by them).
  QGuiApplication::setDesktopFileName(QStringLiteral("org.avirivetta.Rivetta"));
  QApplication::setWindowIcon(QIcon::fromTheme(QStringLiteral("org.avirivetta.Rivetta")));
  // The program ends with its main window, whatever auxiliary windows are still open.
  QApplication::setQuitOnLastWindowClosed(false);
  // Qt's own texts (file dialogs, standard buttons, the context menus of text fields) in
  // Russian, like the rest of the program.
  QTranslator qtRussian;
  if (qtRussian.load(QStringLiteral("qtbase_ru"),
                     QLibraryInfo::path(QLibraryInfo::TranslationsPath)))
    QApplication::installTranslator(&qtRussian);
  QLocale::setDefault(QLocale(QLocale::Russian, QLocale::Russia));
  // One font size for every window and menu, the size the main window uses.
  QFont appFont = QApplication::font();
  appFont.setPointSizeF(8.0);
  QApplication::setFont(appFont);

  rv::InstallTaskRoutines();
  GuiHost host;
  host.Install();

  // The windows, in the order they live for the whole run.
  TFormMain formMain;
  formMain.AttachHost(&host);
  FormYesNo();
  FormDU();
  FormDIAG();
  formMain.AttachStreamCheckWindow(FormMI());
  QObject::connect(&formMain, &TFormMain::closed, &app, &QApplication::quit);

  // Qt has taken its own options out of the arguments; the rest are files. The first is taken
  // as if chosen with the file dialog (a full path, the output name proposed beside it) and
  // read at once; with several, all of them also go to the join list, the one place where the
  // program works on several files.
  QStringList files = QApplication::arguments().mid(1);
  for (QString& f : files) f = QFileInfo(f).absoluteFilePath();
  if (!files.isEmpty()) {
    formMain.EditIN->setText(files.first());
    formMain.ProposeOutputName();
    if (files.size() > 1) formMain.JoinPage()->JListFilesDropped(files);
  }
  formMain.show();
  if (!files.isEmpty()) QTimer::singleShot(0, &formMain, &TFormMain::BitBtnGOClick);

  int rc = app.exec();
  rv::SetHost(nullptr);
  return rc;
}
