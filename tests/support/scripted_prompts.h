#pragma once

#include <QString>
#include <QStringList>
#include <deque>

#include "platform/prompts.h"

namespace yuragi::testing {

// Answers the window's boxes and dialogs from a script, and records them.
class ScriptedPrompts final : public Prompts {
 public:
  struct Shown {
    QString kind;  // "message", "question", "cautious question", "choice", "error", "open", "save"
    QString caption;
    QString text;
  };

  void Message(QWidget*, const QString& caption, const QString& text) override {
    shown.push_back({"message", caption, text});
  }
  bool Question(QWidget*, const QString& caption, const QString& text) override {
    shown.push_back({"question", caption, text});
    if (answers.empty()) return false;
    const bool yes = answers.front();
    answers.pop_front();
    return yes;
  }
  bool CautiousQuestion(QWidget*, const QString& caption, const QString& text) override {
    shown.push_back({"cautious question", caption, text});
    if (answers.empty()) return false;
    const bool yes = answers.front();
    answers.pop_front();
    return yes;
  }
  int Choice(QWidget*, const QString& caption, const QString& text, const QStringList& buttons) override {
    shown.push_back({"choice", caption, text + QStringLiteral("\n[") + buttons.join(QStringLiteral("|")) + "]"});
    if (choices.empty()) return -1;
    const int chosen = choices.front();
    choices.pop_front();
    return chosen;
  }
  void Error(QWidget*, const QString& caption, const QString& text) override {
    shown.push_back({"error", caption, text});
  }
  QString OpenFile(QWidget*, const FileDialogSpec& spec) override {
    lastDialog = spec;
    shown.push_back({"open", QString(), spec.initialFolder});
    return NextFile();
  }
  QString SaveFile(QWidget*, const FileDialogSpec& spec) override {
    lastDialog = spec;
    shown.push_back({"save", QString(), spec.initialFolder});
    return NextFile();
  }

  QStringList Texts() const {
    QStringList texts;
    for (const Shown& s : shown) texts << s.text;
    return texts;
  }

  std::deque<bool> answers;   // for questions: true = Yes
  std::deque<int> choices;    // for choices: the button's index, -1 = closed
  std::deque<QString> files;  // for dialogs: empty = cancelled
  std::vector<Shown> shown;
  FileDialogSpec lastDialog;

 private:
  QString NextFile() {
    if (files.empty()) return QString();
    QString file = files.front();
    files.pop_front();
    return file;
  }
};

}  // namespace yuragi::testing
