// The question "Generate new index?" with Yes (accepts) and No (rejects; the default button).
// Enter presses the button that has the focus (No at first); Escape and the close box answer No.
#pragma once

#include <QDialog>
#include <memory>

namespace Ui {
class NewIndexDialog;
}

namespace quarry {

class NewIndexDialog : public QDialog {
  Q_OBJECT

 public:
  explicit NewIndexDialog(QWidget* owner);
  ~NewIndexDialog() override;

  NewIndexDialog(const NewIndexDialog&) = delete;
  NewIndexDialog& operator=(const NewIndexDialog&) = delete;

 private:
  std::unique_ptr<Ui::NewIndexDialog> ui;
};

}  // namespace quarry
