// Files dragged onto the main window from a file manager: the first local file is opened and
// read as if chosen with the file dialog.
#pragma once

#include <QObject>
#include <QString>

class QMimeData;
class TFormMain;

// The first local file among the dragged URLs (text/uri-list); empty when there is none.
QString DroppedFile(const QMimeData* mime);

// Watches the main window for drops; made by AcceptFileDrops.
class FileDropFilter : public QObject {
  Q_OBJECT

 public:
  explicit FileDropFilter(TFormMain& window);

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  TFormMain& window_;
};

// Lets the window take dropped files.
void AcceptFileDrops(TFormMain& window);
