#include "DialogPrompts.h"

#include <QFileDialog>
#include <QMessageBox>

#include "AboutDialog.h"
#include "NewIndexDialog.h"
#include "StatusDialog.h"

namespace quarry {

void DialogPrompts::ShowMessage(QWidget* owner, const QString& text) {
  StatusDialog dialog(text, owner);
  dialog.exec();
}

bool DialogPrompts::AskNewIndex(QWidget* owner) {
  NewIndexDialog dialog(owner);
  return dialog.exec() == QDialog::Accepted;
}

void DialogPrompts::ShowFileError(QWidget* owner, const QString& text) {
  QMessageBox::critical(owner, QStringLiteral("Quarry"), text);
}

QStringList DialogPrompts::ChooseFiles(QWidget* owner) {
  QFileDialog dialog(owner);
  dialog.setFileMode(QFileDialog::ExistingFiles);
  dialog.setAcceptMode(QFileDialog::AcceptOpen);
  dialog.setNameFilter(QStringLiteral("HTML Files (*.htm *.html)"));
  dialog.setDefaultSuffix(QStringLiteral("html"));
  if (dialog.exec() != QDialog::Accepted) return {};
  return dialog.selectedFiles();
}

void DialogPrompts::ShowAbout(QWidget* owner) {
  AboutDialog dialog(owner);
  dialog.exec();
}

}  // namespace quarry
