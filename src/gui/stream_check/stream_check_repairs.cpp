// The stream-check window's repairs: the hammer's bulk action, the row menu of the grid and
// its commands, and the dump of a bad block.
#include "gui/stream_check/stream_check_window.h"

#include <QAction>
#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QRadioButton>
#include <QTableWidget>

#include <algorithm>
#include <string>
#include <vector>

#include "base/messages.h"
#include "base/options.h"
#include "base/questions.h"
#include "base/tasks.h"
#include "check/bad_blocks.h"
#include "check/index.h"
#include "check/repairs.h"
#include "check/scanner.h"
#include "check/side_files.h"
#include "gui/common/dump_window.h"
#include "gui/common/gui_host.h"
#include "gui/common/widgets.h"
#include "riff/blocks.h"
#include "riff/bytes.h"
#include "riff/source.h"

// ---- dump and pop-up menu ----------------------------------------------------------------------

void TFormMI::PopupERPopup() {
  const int row = StringER->currentRow();
  const rv::GridState& g = rv::Grid();
  const std::string cell1 = row > 0 && row < int(g.rows.size()) ? g.rows[size_t(row)][1] : "";
  const rv::RowMenuState m = rv::PopupERState(cell1, rv::WorkerExists());
  MIdump->setEnabled(m.dump);
  MIremofix->setEnabled(m.remofix);
  MIremonofix->setEnabled(m.remonofix);
  MIremoscan->setEnabled(m.remoscan);
  MIfix->setEnabled(m.fix);
  MIleave->setEnabled(m.leave);
}

// ---- repairs ------------------------------------------------------------------------------------

namespace {
uint64_t ExcludedBytes() {
  uint64_t n = 0;
  for (const rv::Exclusion& x : rv::Exclusions()) n += x.count;
  return n;
}
}  // namespace

int TFormMI::SelectedBadBlock() const {
  const int k = StringER->currentRow() - 1;
  return k >= 0 && size_t(k) < rv::BadBlocks().size() ? k : -1;
}

void TFormMI::AfterRepair(int selectRow, uint64_t excludedBefore) {
  MirrorGrid();
  ImageEX->setVisible(!rv::Exclusions().empty());
  // The saved errors describe the state straight after a check: after a repair only loading
  // them makes sense.
  if (CheckSA->isChecked()) SelectFileAction(CheckRE);
  CheckSA->setEnabled(false);
  if (selectRow > 0 && selectRow < StringER->rowCount()) StringER->selectRow(selectRow);
  // Cuts pull the chunks behind them closer: chunks that lay past the end of the stream when
  // it was checked may now lie inside it, and only a continued check indexes them.
  if (ExcludedBytes() > excludedBefore) ContinueAfterCuts();
}

namespace {
TFormMI* g_hammerWindow = nullptr;
void HammerProgress(size_t k, size_t total) {
  if (!g_hammerWindow) return;
  g_hammerWindow->LabelPTR->setText(
      QStringLiteral("ptr: %1 >> %2").arg(qulonglong(k)).arg(qulonglong(total)));
  g_hammerWindow->LabelPTR->repaint();
}
}  // namespace

void TFormMI::ImageHAMMERClick() {
  if (rv::WorkerExists()) return;
  LabelPTR->show();
  ImageWA->show();
  repaint();
  rv::RepairOptions o;
  o.positiveDeltaOnly = CheckDP->isChecked();
  o.zeroRunsOnly = CheckZR->isChecked();
  if (!rv::MinRunFromText(EditMS->text().toStdString(), o.minRun)) {
    EditMS->setText(QStringLiteral("100"));
    o.minRun = 100;
  }
  std::string radio;
  for (QRadioButton* r : {RadioEQ, RadioREIS, RadioRENO, RadioRERE, RadioISME, RadioISALL})
    if (r->isChecked()) radio = r->objectName().toStdString();
  const uint64_t excluded = ExcludedBytes();
  const std::vector<rv::BadBlock> blocksBefore = rv::BadBlocks();
  const size_t fragmentsBefore = rv::Exclusions().size();
  g_hammerWindow = this;
  rv::RunBulkAction(radio, o, InputName().toStdString(), HammerProgress);
  g_hammerWindow = nullptr;
  LabelPTR->clear();
  LabelPTR->hide();
  ImageWA->hide();
  // What the repair did, in the main window's message list.
  const size_t blocksAfter = rv::BadBlocks().size();
  const size_t fragmentsAfter = rv::Exclusions().size();
  if (blocksAfter == blocksBefore.size() && fragmentsAfter == fragmentsBefore &&
      rv::BadBlocks() == blocksBefore) {
    rv::AddMessage(kHammerNothing);
  } else {
    const size_t repaired = blocksBefore.size() - std::min(blocksBefore.size(), blocksAfter);
    const size_t cut = fragmentsAfter - std::min(fragmentsBefore, fragmentsAfter);
    rv::AddMessage(std::string(kHammerDone) + std::to_string(repaired) + ", вырезано фрагментов: " +
                   std::to_string(cut) + ", осталось в списке: " + std::to_string(blocksAfter));
  }
  AfterRepair(-1, excluded);
}

void TFormMI::MIremofixClick() {
  const int k = SelectedBadBlock();
  if (k < 0 || rv::WorkerExists()) return;
  const uint64_t excluded = ExcludedBytes();
  ImageWA->show();
  ImageWA->repaint();
  rv::Block2Exclude(size_t(k), 'y');
  ImageWA->hide();
  AfterRepair(k + 1, excluded);
}

void TFormMI::MIremonofixClick() {
  const int k = SelectedBadBlock();
  if (k < 0 || rv::WorkerExists()) return;
  const uint64_t excluded = ExcludedBytes();
  ImageWA->show();
  ImageWA->repaint();
  rv::Block2Exclude(size_t(k), 'n');
  ImageWA->hide();
  AfterRepair(k + 1, excluded);
}

void TFormMI::MIremoscanClick() {
  const int k = SelectedBadBlock();
  if (k < 0 || rv::WorkerExists()) return;
  const uint64_t excluded = ExcludedBytes();
  ImageWA->show();
  ImageWA->repaint();
  rv::RemoveAndRescanOne(size_t(k), InputName().toStdString());
  rv::ResetReadCache();
  rv::Crashed2SG();
  ImageWA->hide();
  AfterRepair(k + 1, excluded);
}

void TFormMI::MIfixClick() {
  const int k = SelectedBadBlock();
  if (k < 0 || rv::WorkerExists()) return;
  const uint64_t excluded = ExcludedBytes();
  rv::FixOne(size_t(k));
  AfterRepair(k + 1, excluded);
}

void TFormMI::MIleaveClick() {
  const int k = SelectedBadBlock();
  if (k < 0 || rv::WorkerExists()) return;
  const uint64_t excluded = ExcludedBytes();
  rv::LeaveOne(size_t(k));
  AfterRepair(k + 1, excluded);
}

void TFormMI::MIdumpClick() {
  if (rv::WorkerExists()) return;
  const int row = StringER->currentRow();
  const rv::GridState& g = rv::Grid();
  if (row <= 0 || row >= int(g.rows.size())) return;
  const rv::GridRow& cells = g.rows[size_t(row)];
  if (!rv::IsNumber(cells[1])) return;
  const unsigned long long entry = std::stoull(cells[1]);
  const auto& entries = rv::Index().entries;
  if (entry >= entries.size()) return;
  const int32_t movi = rv::FindBlock("LIST", "movi");
  if (movi < 0) return;
  const uint64_t moviPos = uint64_t(rv::Blocks()[size_t(movi)].Offset) + 8;
  const uint64_t pos = moviPos + entries[size_t(entry)].dwChunkOffset;
  auto number = [](const std::string& s) -> uint64_t {
    return rv::IsNumber(s) ? std::stoull(s) : 0;
  };
  const uint64_t count = std::max(number(cells[5]), number(cells[6]));
  if (count > 0xFFFFFFFFull) return;
  if (!rv::OpenSource(InputName().toStdString())) return;
  rv::Bytes bytes;
  const bool read = rv::ReadSource(pos, uint32_t(count), bytes);
  rv::CloseSource();
  if (!read) return;
  TFormDU& dump = FormDU();
  dump.SetBase(pos);
  dump.MakeDump(bytes, uint32_t(count));
  dump.show();
  dump.raise();
  dump.activateWindow();
}
