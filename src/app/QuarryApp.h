// The application object: start-up runs the main window modally, then the program ends.
#pragma once

#include <QApplication>
#include <string>
#include <vector>

namespace quarry {

class QuarryApp : public QApplication {
  Q_OBJECT

 public:
  QuarryApp(int& argc, char** argv);
  ~QuarryApp() override;

  QuarryApp(const QuarryApp&) = delete;
  QuarryApp& operator=(const QuarryApp&) = delete;

  // The start-up routine: creates the main window, centres it on the mouse pointer, runs it
  // modally until Exit, Escape or the close box ends it, and destroys it. Returns false: the
  // program then ends. With startPaths, the window opens the index and adds them as soon as it
  // shows (MainDialog::StartWithPages); without, it starts with no index open.
  bool InitInstance(const std::vector<std::string>& startPaths = {});
};

}  // namespace quarry
