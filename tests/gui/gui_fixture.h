// The set-up every window test shares: a temporary directory that also holds the configuration
// file (so no test reads one it did not write), the GUI host installed, the real task routines,
// every question that reaches the dialog counted and answered "no", and the running task
// stopped and waited for after each test. Plus the helpers the window tests look things up with.
#pragma once

#include <QSignalSpy>
#include <QTest>
#include <QtWidgets>
#include <atomic>
#include <chrono>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "base/messages.h"
#include "base/options.h"
#include "base/questions.h"
#include "base/tasks.h"
#include "fixtures/avi_builder.h"
#include "gui/common/dump_window.h"
#include "gui/common/gui_host.h"
#include "gui/common/question_dialog.h"
#include "gui/common/widgets.h"
#include "gui/main_window/main_window.h"
#include "gui/stream_check/stream_check_window.h"

using namespace std::chrono_literals;

namespace rvt {

class GuiFixture {
 public:
  explicit GuiFixture(const char* dirHint);
  ~GuiFixture();

  // Before each test: no scripted answers, messages or stop request; the real task routines;
  // no configuration file; questions that reach the dialog counted from zero and answered "no".
  void Reset();
  // Stops the running task and waits for it (a stop asked before it starts is cleared by its
  // start, so it asks until the task ends). False when it did not end.
  bool StopTask();
  // After each test: StopTask, and the window goes.
  bool StopAndWait();
  // A fresh main window (it reads the configuration file while it is made) on the host.
  TFormMain& NewWindow();
  // Names a file in the window and reads it (BitBtnGO).
  void Open(const std::string& path);

  TempDir& Dir() { return *dir_; }
  GuiHost& Host() { return host_; }
  std::string ConfigFile() const;
  // Questions that reached the dialog (each answered "no").
  int dialogsShown = 0;

 private:
  std::unique_ptr<TempDir> dir_;
  GuiHost host_;
  std::unique_ptr<TFormMain> window_;
};

// The control named `name` under `root`, of type T; a test failure names what is missing.
template <class T = QObject>
T* Find(const QObject* root, const char* name) {
  T* found = root->findChild<T*>(QString::fromUtf8(name));
  if (!found) qWarning("no control %s of that type under %s", name, qPrintable(root->objectName()));
  return found;
}

inline QString U(const char* utf8) { return QString::fromUtf8(utf8); }

// A task that runs until it is asked to stop; `running` turns true once it has started.
inline rv::TaskRoutine UntilStopped(std::atomic<bool>& running, bool result = true) {
  return [&running, result] {
    for (running = true; !rv::StopRequested();) std::this_thread::sleep_for(1ms);
    return result;
  };
}

// The first line of a tree, at any depth, that starts with `prefix`; null when none does.
inline QTreeWidgetItem* TreeLine(QTreeWidget* tree, const QString& prefix) {
  return tree->findItems(prefix, Qt::MatchStartsWith | Qt::MatchRecursive).value(0);
}

// The lines of a read-only text control; empty text gives no lines.
QStringList Lines(const QString& text);

}  // namespace rvt
