#include "NewIndexDialog.h"

#include <QPushButton>

#include "ui_NewIndexDialog.h"

namespace quarry {

NewIndexDialog::NewIndexDialog(QWidget* owner)
    : QDialog(owner), ui(std::make_unique<Ui::NewIndexDialog>()) {
  ui->setupUi(this);
  connect(ui->yesButton, &QPushButton::clicked, this, &QDialog::accept);
  connect(ui->noButton, &QPushButton::clicked, this, &QDialog::reject);
  ui->noButton->setFocus();
}

NewIndexDialog::~NewIndexDialog() = default;

}  // namespace quarry
