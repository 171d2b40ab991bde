// The save entry: TFormMain::ImageSAClick and TFormMain::CheckSAIDClick.
#include "gui/main_window/save_entry.h"

#include <QCheckBox>
#include <QLineEdit>

#include <string>

#include "base/messages.h"
#include "base/questions.h"
#include "base/tasks.h"
#include "check/index.h"
#include "check/scanner.h"
#include "check/side_files.h"
#include "gui/main_window/main_window.h"
#include "output/naming.h"
#include "output/writer.h"
#include "riff/header.h"
#include "riff/source.h"

void TFormMain::ImageSAClick() {
  // Like every starter: nothing while a task runs.
  if (rv::WorkerExists()) return;
  const std::string output = EditOUT->text().toStdString();
  const std::string source = EditIN->text().toStdString();
  // The index in memory is applied only to the bytes of the file it was built from.
  rv::InputFileName() = source;
  if (!rv::InputIsLoadedFile()) {
    RefreshMessages();
    return;
  }

  if (CheckSAID->isChecked()) {
    // The index alone; the source is never overwritten, also not by its index.
    if (rv::SameFile(output, source)) {
      rv::AddMessage(save_entry::kSameAsSource);
      RefreshMessages();
      return;
    }
    rv::SaveIndexOnly(output);  // asks itself before it replaces a file
    // A one-shot choice: unchecking it proposes the repaired file's name again.
    CheckSAID->setChecked(false);
    RefreshMessages();
    return;
  }

  // Without a successful stream check only the user's "I know what I am doing" saves.
  if (!CheckSavePart->isChecked() && (!rv::IFpresent("movi") || !rv::IFpresent("idx1"))) {
    const bool endedEarly =
        !rv::Index().entries.empty() && rv::LastScan().steps > 0 && !rv::LastScan().reachedEnd;
    rv::AddMessage(endedEarly ? save_entry::kCheckEndedEarly : save_entry::kCheckStreamFirst);
    RefreshMessages();
    return;
  }
  // Chunks that cuts pulled into the stream after the check would be left out.
  if (!CheckSavePart->isChecked() && rv::Index().cutAfterScan) {
    rv::AddMessage(save_entry::kContinueCheckFirst);
    RefreshMessages();
    return;
  }
  // Checked before the overwrite question: the source exists, and it is never the output.
  if (rv::SameFile(output, source)) {
    rv::AddMessage(save_entry::kSameAsSource);
    RefreshMessages();
    return;
  }
  if (rv::FileExists(output) && !rv::AskYesNo(save_entry::kOverwriteQuestion)) return;
  StartTask(QStringLiteral("saveOUT"));
}

void TFormMain::CheckSAIDClick() {
  if (CheckSAID->isChecked())
    EditOUT->setText(EditIN->text() + QString::fromLatin1(save_entry::kIndexSuffix));
  else
    EditOUT->setText(QString::fromStdString(rv::makeOutFN(EditIN->text().toStdString())));
}
