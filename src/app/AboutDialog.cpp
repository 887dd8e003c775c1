#include "AboutDialog.h"

#include <QIcon>
#include <QPushButton>

#include "AppResources.h"
#include "ui_AboutDialog.h"

namespace quarry {

AboutDialog::AboutDialog(QWidget* owner) : QDialog(owner), ui(std::make_unique<Ui::AboutDialog>()) {
  InitAppResources();
  ui->setupUi(this);
  ui->versionLabel->setText(QStringLiteral("Quarry v" QUARRY_VERSION));
  ui->iconLabel->setPixmap(QIcon(QStringLiteral(":/quarry/quarry.png")).pixmap(32, 32));
  connect(ui->okButton, &QPushButton::clicked, this, &QDialog::accept);
}

AboutDialog::~AboutDialog() = default;

}  // namespace quarry
