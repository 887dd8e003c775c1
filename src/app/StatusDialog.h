// The program's message box: one notice text and an OK button, shown modally.
#pragma once

#include <QDialog>
#include <QString>
#include <memory>

namespace Ui {
class StatusDialog;
}

namespace quarry {

class StatusDialog : public QDialog {
  Q_OBJECT

 public:
  // Shows message (plain text, wrapped at word boundaries) over owner.
  StatusDialog(const QString& message, QWidget* owner);
  ~StatusDialog() override;

  StatusDialog(const StatusDialog&) = delete;
  StatusDialog& operator=(const StatusDialog&) = delete;

  const QString& Message() const { return message; }

 private:
  std::unique_ptr<Ui::StatusDialog> ui;
  QString message;
};

}  // namespace quarry
