#include "QuarryApp.h"

#include <QCursor>
#include <QIcon>
#include <QScreen>
#include <QTimer>
#include <algorithm>

#include "AppResources.h"
#include "MainDialog.h"

namespace quarry {

QuarryApp::QuarryApp(int& argc, char** argv) : QApplication(argc, argv) {
  InitAppResources();
  setApplicationName(QStringLiteral("quarry"));
  // No display name: Qt would append it to every caption the window system shows ("Quarry  —
  // Quarry"); each window's caption is its own, exactly.
  setApplicationVersion(QStringLiteral(QUARRY_VERSION));
  setWindowIcon(QIcon(QStringLiteral(":/quarry/quarry.png")));
  setDesktopFileName(QStringLiteral("quarry"));
}

QuarryApp::~QuarryApp() = default;

bool QuarryApp::InitInstance(const std::vector<std::string>& startPaths) {
  MainDialog dialog;
  dialog.adjustSize();
  // Centred on the mouse pointer, kept on its screen.
  const QPoint pointer = QCursor::pos();
  QRect frame(QPoint(0, 0), dialog.size());
  frame.moveCenter(pointer);
  if (const QScreen* screen = QGuiApplication::screenAt(pointer); screen != nullptr) {
    const QRect room = screen->availableGeometry();
    frame.moveLeft(
        std::clamp(frame.left(), room.left(), std::max(room.left(), room.right() - frame.width())));
    frame.moveTop(
        std::clamp(frame.top(), room.top(), std::max(room.top(), room.bottom() - frame.height())));
  }
  dialog.move(frame.topLeft());
  if (!startPaths.empty()) {
    // Once the event loop runs, so the window shows while a large folder is added.
    QTimer::singleShot(0, &dialog, [&dialog, &startPaths] { dialog.StartWithPages(startPaths); });
  }
  dialog.exec();
  return false;
}

}  // namespace quarry
