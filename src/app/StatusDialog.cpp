#include "StatusDialog.h"

#include <QPushButton>

#include "ui_StatusDialog.h"

namespace quarry {

StatusDialog::StatusDialog(const QString& message_, QWidget* owner)
    : QDialog(owner), ui(std::make_unique<Ui::StatusDialog>()), message(message_) {
  ui->setupUi(this);
  ui->messageLabel->setText(message);
  connect(ui->okButton, &QPushButton::clicked, this, &QDialog::accept);
}

StatusDialog::~StatusDialog() = default;

}  // namespace quarry
