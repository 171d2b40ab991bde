#include "gui/main_window/file_drop.h"

#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFileInfo>
#include <QLineEdit>
#include <QMimeData>
#include <QTabWidget>
#include <QUrl>

#include "base/tasks.h"
#include "gui/main_window/main_window.h"

QString DroppedFile(const QMimeData* mime) {
  if (!mime || !mime->hasUrls()) return {};
  for (const QUrl& url : mime->urls())
    if (url.isLocalFile()) return QFileInfo(url.toLocalFile()).absoluteFilePath();
  return {};
}

FileDropFilter::FileDropFilter(TFormMain& window) : QObject(&window), window_(window) {}

bool FileDropFilter::eventFilter(QObject* watched, QEvent* event) {
  // The file-name field would take a dropped file as text (its URL): there it is a file too.
  if (watched != &window_ && watched != window_.EditIN) return false;
  switch (event->type()) {
    case QEvent::DragEnter:
    case QEvent::DragMove: {
      auto* e = static_cast<QDropEvent*>(event);
      // While a task runs the file it works on stays: the drag is refused.
      if (DroppedFile(e->mimeData()).isEmpty() || rv::WorkerExists()) return false;
      e->setDropAction(Qt::CopyAction);
      e->accept();
      return true;
    }
    case QEvent::Drop: {
      auto* e = static_cast<QDropEvent*>(event);
      const QString file = DroppedFile(e->mimeData());
      if (file.isEmpty() || rv::WorkerExists()) return false;
      e->setDropAction(Qt::CopyAction);
      e->accept();
      // As a file named on the command line: its name, the output name beside it, read at
      // once, with the block tree in view.
      window_.EditIN->setText(file);
      window_.ProposeOutputName();
      window_.PageControl1->setCurrentWidget(window_.TabSheetFIX);
      window_.BitBtnGOClick();
      return true;
    }
    default: return false;
  }
}

void AcceptFileDrops(TFormMain& window) {
  window.setAcceptDrops(true);
  auto* filter = new FileDropFilter(window);
  window.installEventFilter(filter);
  window.EditIN->installEventFilter(filter);
}
