// The help window: Quarry's help page in a browser, in a window of its own that does not block
// the main window. It belongs to the main window and closes with it.
#pragma once

#include <QString>
#include <QWidget>

class QTextBrowser;

namespace quarry {

class HelpWindow : public QWidget {
  Q_OBJECT

 public:
  // The anchor of the main window's topic in the help page.
  static constexpr const char* kMainTopic = "main-window";

  explicit HelpWindow(QWidget* owner);
  ~HelpWindow() override;

  HelpWindow(const HelpWindow&) = delete;
  HelpWindow& operator=(const HelpWindow&) = delete;

  // Shows file (an HTML page) at anchor. Returns false, showing nothing, when the file cannot
  // be read.
  bool ShowTopic(const QString& file, const QString& anchor);

  // The page shown, with its anchor.
  QUrl Source() const;

  // The installed help page beside the program: <bin>/help/quarry.html in the build tree, else
  // <bin>/<relative data dir>/quarry/help/quarry.html; empty when neither exists.
  static QString FindHelpFile();

 private:
  QTextBrowser* browser;
};

}  // namespace quarry
