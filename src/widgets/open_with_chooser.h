#pragma once

#include <QDialog>
#include <QIcon>
#include <QString>
#include <functional>
#include <vector>

class QListWidget;
class QPushButton;

namespace yuragi {

// "Open with" when no portal offers its own: the applications registered
// for the file's type, and a way to pick any program.
class OpenWithChooser : public QDialog {
  Q_OBJECT
 public:
  struct Entry {
    QString id;
    QString name;
    QIcon icon;
  };
  // browse asks for a program file and returns its path, empty when cancelled.
  OpenWithChooser(QWidget* parent, const QString& fileName, const std::vector<Entry>& apps,
                  std::function<QString()> browse);

  QListWidget* Apps() const { return list_; }
  QPushButton* BrowseButton() const { return browseButton_; }

 signals:
  void AppChosen(const QString& id);
  void ProgramChosen(const QString& program);

 private:
  void AcceptSelected();

  QListWidget* list_;
  QPushButton* browseButton_;
  QPushButton* okButton_;
  std::function<QString()> browse_;
};

}  // namespace yuragi
