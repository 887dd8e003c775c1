#include "HelpWindow.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QTextBrowser>
#include <QUrl>
#include <QVBoxLayout>

#ifndef QUARRY_HELP_FROM_BIN
#define QUARRY_HELP_FROM_BIN "../share/quarry/help"
#endif

namespace quarry {

HelpWindow::HelpWindow(QWidget* owner) : QWidget(owner, Qt::Window), browser(new QTextBrowser) {
  setWindowTitle(QStringLiteral("Quarry Help"));
  setAttribute(Qt::WA_DeleteOnClose, false);
  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(0, 0, 0, 0);
  layout->addWidget(browser);
  browser->setOpenExternalLinks(true);
  resize(640, 520);
}

HelpWindow::~HelpWindow() = default;

bool HelpWindow::ShowTopic(const QString& file, const QString& anchor) {
  const QFileInfo info(file);
  if (file.isEmpty() || !info.isFile() || !info.isReadable()) return false;
  QUrl url = QUrl::fromLocalFile(info.absoluteFilePath());
  url.setFragment(anchor);
  browser->setSource(url);
  if (browser->document()->isEmpty()) return false;
  show();
  raise();
  activateWindow();
  return true;
}

QUrl HelpWindow::Source() const { return browser->source(); }

QString HelpWindow::FindHelpFile() {
  const QDir bin(QCoreApplication::applicationDirPath());
  const QStringList candidates = {
      bin.filePath(QStringLiteral("help/quarry.html")),
      bin.filePath(QStringLiteral(QUARRY_HELP_FROM_BIN "/quarry.html")),
  };
  for (const QString& candidate : candidates) {
    if (QFileInfo(candidate).isFile()) return QDir::cleanPath(candidate);
  }
  return {};
}

}  // namespace quarry
