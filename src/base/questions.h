// Questions to the user and the question dialog's state that outlives each question.
#pragma once

#include <atomic>
#include <deque>
#include <string>

#include "base/host.h"

namespace rv {

extern const char* const kDefaultQuestionText;  // shown when a question's text is empty

struct QuestionDialogState {
  std::atomic<uint8_t> lastAnswer{0};  // 1 when the upper button was pressed
  char defaultAnswer = 0;              // 'y' focuses the upper button; anything else the lower
  char iconLetter = 'q';               // one of "qrby"
  std::string upper = "да", lower = "нет";
};
QuestionDialogState& Dialog();

// The next icon letter in the cycle q, r, b, y.
char NextIcon(char letter);

// Ask through the host (or answer from the scripted answers when any are queued).
// The result is also left in Dialog().lastAnswer.
bool AskYesNo(const std::string& text);
bool AskChoice(const std::string& text, const std::string& upper, const std::string& lower,
               char defaultAnswer);
bool LastAnswer();

// Scripted answers: consumed one per question before the host is asked. Tests and the
// command line's --yes/--no use them. An "always" answer applies when the queue is empty.
void PushScriptedAnswer(bool answer);
void SetAlwaysAnswer(int answer);  // -1 none, 0 no, 1 yes
void ClearScriptedAnswers();
// Questions asked so far (the texts), for tests.
std::deque<std::string>& AskedQuestions();

}  // namespace rv
