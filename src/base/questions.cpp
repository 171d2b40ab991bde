#include "base/questions.h"

#include <mutex>

#include "base/tasks.h"

namespace rv {

const char* const kDefaultQuestionText = "Вы действительно хотите\r\nудалить текущую запись?";

QuestionDialogState& Dialog() {
  static QuestionDialogState d;
  return d;
}

char NextIcon(char letter) {
  switch (letter) {
    case 'q': return 'r';
    case 'r': return 'b';
    case 'b': return 'y';
    default: return 'q';
  }
}

namespace {
std::mutex g_scriptMutex;
std::deque<bool> g_script;
int g_always = -1;
std::deque<std::string> g_asked;

// An answer from the script, or -1 when the host must ask.
int ScriptedAnswer(const std::string& text) {
  std::lock_guard lock(g_scriptMutex);
  g_asked.push_back(text);
  if (!g_script.empty()) {
    bool a = g_script.front();
    g_script.pop_front();
    return a ? 1 : 0;
  }
  return g_always;
}

bool Ask(const Question& q) {
  if (CurrentWorkerAbandoned()) return false;
  int scripted = ScriptedAnswer(q.text.empty() ? kDefaultQuestionText : q.text);
  if (scripted >= 0) {
    if (q.choice) Dialog().defaultAnswer = q.defaultAnswer == 'y' ? 'y' : 'n';
    Dialog().lastAnswer = uint8_t(scripted);
    return scripted == 1;
  }
  bool answer = CurrentHost().Ask(q);
  Dialog().lastAnswer = answer ? 1 : 0;
  return answer;
}
}  // namespace

bool AskYesNo(const std::string& text) {
  Question q;
  q.text = text;
  return Ask(q);
}

bool AskChoice(const std::string& text, const std::string& upper, const std::string& lower,
               char defaultAnswer) {
  Question q;
  q.text = text;
  q.choice = true;
  q.upper = upper;
  q.lower = lower;
  q.defaultAnswer = defaultAnswer;
  return Ask(q);
}

bool LastAnswer() { return Dialog().lastAnswer.load() == 1; }

void PushScriptedAnswer(bool answer) {
  std::lock_guard lock(g_scriptMutex);
  g_script.push_back(answer);
}

void SetAlwaysAnswer(int answer) {
  std::lock_guard lock(g_scriptMutex);
  g_always = answer;
}

void ClearScriptedAnswers() {
  std::lock_guard lock(g_scriptMutex);
  g_script.clear();
  g_always = -1;
  g_asked.clear();
}

std::deque<std::string>& AskedQuestions() { return g_asked; }

}  // namespace rv
