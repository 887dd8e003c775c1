// Saves a picture of the Quarry window with the index of the current directory open.
// Not installed; tools/screenshot runs it under a virtual X server.
// Usage: quarry-screenshot OUTPUT.png
#include <QElapsedTimer>
#include <QImage>
#include <QPixmap>
#include <cstdio>

#include "ByteListBox.h"
#include "MainDialog.h"
#include "QuarryApp.h"

int main(int argc, char** argv) {
  quarry::QuarryApp app(argc, argv);
  if (argc != 2) {
    std::fprintf(stderr, "usage: quarry-screenshot OUTPUT.png\n");
    return 2;
  }
  quarry::MainDialog dialog;
  dialog.show();
  dialog.OnOpenClose();
  // Select a few entries, as a user about to remove them would.
  auto* pages = dialog.findChild<quarry::ByteListBox*>(QStringLiteral("pageListBox"));
  if (pages != nullptr && pages->model()->rowCount() > 2) {
    pages->setCurrentIndex(pages->model()->index(2, 0));
  }
  QElapsedTimer timer;
  timer.start();
  while (timer.elapsed() < 1500) QCoreApplication::processEvents(QEventLoop::AllEvents, 50);
  if (!dialog.grab().save(QString::fromLocal8Bit(argv[1]))) {
    std::fprintf(stderr, "cannot write %s\n", argv[1]);
    return 1;
  }
  return 0;
}
