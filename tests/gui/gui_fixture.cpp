#include "gui_fixture.h"

#include "app/task_table.h"
#include "base/config.h"

namespace rvt {

GuiFixture::GuiFixture(const char* dirHint) : dir_(std::make_unique<TempDir>(dirHint)) {
  rv::SetConfigPathOverride(ConfigFile());
  host_.Install();
  Reset();
}

GuiFixture::~GuiFixture() {
  StopAndWait();
  for (const char* name : rv::kTaskNames) rv::SetTaskRoutine(name, {});
  TFormYesNo::SetAutoAnswer({});
  rv::SetConfigPathOverride("");
}

std::string GuiFixture::ConfigFile() const { return dir_->File("avi.rivetta.cfg.ini"); }

void GuiFixture::Reset() {
  std::remove(ConfigFile().c_str());
  rv::InstallTaskRoutines();
  rv::ClearScriptedAnswers();
  rv::AskedQuestions().clear();
  rv::ClearMessages();
  rv::ClearStop();
  dialogsShown = 0;
  TFormYesNo::SetAutoAnswer([this](TFormYesNo&) {
    ++dialogsShown;
    return 0;
  });
}

bool GuiFixture::StopTask() {
  for (int i = 0; i < 2000 && rv::WorkerExists(); ++i) {
    rv::RequestStop();
    QTest::qWait(10);
  }
  return !rv::WorkerExists();
}

bool GuiFixture::StopAndWait() {
  const bool stopped = StopTask();
  window_.reset();
  QCoreApplication::processEvents();
  return stopped;
}

TFormMain& GuiFixture::NewWindow() {
  window_.reset();
  window_ = std::make_unique<TFormMain>();
  window_->AttachHost(&host_);
  return *window_;
}

void GuiFixture::Open(const std::string& path) {
  Find<QLineEdit>(window_.get(), "EditIN")->setText(QString::fromStdString(path));
  Find<QPushButton>(window_.get(), "BitBtnGO")->click();
}

QStringList Lines(const QString& text) {
  return text.isEmpty() ? QStringList() : text.split(QLatin1Char('\n'));
}

}  // namespace rvt
