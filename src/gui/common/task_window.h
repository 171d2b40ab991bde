// What a tab or a panel asks of the window that holds it: starting a task, the directory of the
// last file chosen, the name of the source file, a widget to put dialogs over, and showing the
// engine's file state again. The main window implements it, and connects its completions and
// its file reset to the tabs and panels.
#pragma once

#include <QString>

class QWidget;

class TaskWindow {
 public:
  virtual ~TaskWindow() = default;

  // Sets the task command and starts the worker; false (nothing done) while one runs.
  virtual bool StartTask(const QString& command) = 0;
  // The directory of the last file chosen in this run (empty at first), shared by every file
  // choice of the window.
  virtual QString LastDir() const = 0;
  virtual void SetLastDir(const QString& dir) = 0;
  // The name of the source file as the window shows it.
  virtual QString InputName() const = 0;
  // The widget dialogs open over, and that floating panels are centred in.
  virtual QWidget* DialogParent() = 0;
  // Shows the engine's block labels, or its block tree, again after a change to them.
  virtual void RefreshLabels() = 0;
  virtual void RefreshTree() = 0;
};
