#pragma once

#include <QString>

#include <functional>

class QWidget;

namespace quern {

// The answers a question of a command can get. Closing the box without an answer is No.
enum class Answer { Yes, No, All, NoToAll };

// Asks a question with Yes and No, and with All and No to All too when offerAll is set (a command
// that asks once for each of several items). Shown in a real box unless a hook answers it.
// detail, when given, is a line under the question (the whole name the question shortens).
Answer askQuestion(QWidget* parent, const QString& question, bool offerAll, const QString& detail = {});

// Answers every question through hook instead of the box, for tests and scripted runs; an empty
// hook brings the box back. The hook gets the question and whether All and No to All are offered.
using QuestionHook = std::function<Answer(const QString& question, bool offerAll)>;
void setQuestionHook(QuestionHook hook);

} // namespace quern
