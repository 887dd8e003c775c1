// The about box: the application icon, "Quarry v" and the project's version, and OK.
#pragma once

#include <QDialog>
#include <memory>

namespace Ui {
class AboutDialog;
}

namespace quarry {

class AboutDialog : public QDialog {
  Q_OBJECT

 public:
  explicit AboutDialog(QWidget* owner = nullptr);
  ~AboutDialog() override;

  AboutDialog(const AboutDialog&) = delete;
  AboutDialog& operator=(const AboutDialog&) = delete;

 private:
  std::unique_ptr<Ui::AboutDialog> ui;
};

}  // namespace quarry
