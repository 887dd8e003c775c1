// Prompts for the window's timings: every "Generate new index?" is answered Yes, and notices and
// file errors go to standard error instead of a dialog that would wait for a click.
#pragma once

#include <QStringList>
#include <cstdio>

#include "UserPrompts.h"

namespace quarry::bench {

class YesPrompts : public UserPrompts {
 public:
  void ShowMessage(QWidget*, const QString& text) override {
    std::fprintf(stderr, "message: %s\n", qPrintable(text));
  }
  bool AskNewIndex(QWidget*) override { return true; }
  void ShowFileError(QWidget*, const QString& text) override {
    std::fprintf(stderr, "file error: %s\n", qPrintable(text));
  }
  QStringList ChooseFiles(QWidget*) override { return {}; }
  void ShowAbout(QWidget*) override {}
};

}  // namespace quarry::bench
