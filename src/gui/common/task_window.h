// What a tab or a panel asks of the window that holds it: starting a task, the directory of the
// last file chosen, the name of the source file, and a widget to put dialogs over. The main
// window implements it; the window connects its completions to the tabs' TaskCompleted slots.
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
  // The widget dialogs open over.
  virtual QWidget* DialogParent() = 0;
};
