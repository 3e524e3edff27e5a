#pragma once

#include <QString>
#include <QStringList>
#include <memory>

#include "platform/file_filter.h"

class QWidget;

namespace yuragi {

// The message boxes and file dialogs, behind one interface so that window
// tests can answer them without a person.
class Prompts {
 public:
  virtual ~Prompts() = default;
  // Plain box: no icon, OK.
  virtual void Message(QWidget* parent, const QString& caption, const QString& text) = 0;
  // Yes/No with the question icon; true unless the answer is No.
  virtual bool Question(QWidget* parent, const QString& caption, const QString& text) = 0;
  // The same, with No as the default button: Enter and Esc answer No.
  virtual bool CautiousQuestion(QWidget* parent, const QString& caption, const QString& text) = 0;
  // A question with buttons of its own: the index of the one pressed, or -1
  // when the box was closed (Esc). The first button is the default.
  virtual int Choice(QWidget* parent, const QString& caption, const QString& text, const QStringList& buttons) = 0;
  // Error icon, OK.
  virtual void Error(QWidget* parent, const QString& caption, const QString& text) = 0;
  // The chosen path as DisplayPath shows it (PathFromText gives its bytes
  // back), or empty when cancelled.
  virtual QString OpenFile(QWidget* parent, const FileDialogSpec& spec) = 0;
  virtual QString SaveFile(QWidget* parent, const FileDialogSpec& spec) = 0;
};

std::unique_ptr<Prompts> MakeDesktopPrompts();

}  // namespace yuragi
