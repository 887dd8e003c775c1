// The UserPrompts that ask a person: the program's own modal dialogs and Qt's file dialog.
#pragma once

#include "UserPrompts.h"

namespace quarry {

class DialogPrompts : public UserPrompts {
 public:
  void ShowMessage(QWidget* owner, const QString& text) override;
  bool AskNewIndex(QWidget* owner) override;
  void ShowFileError(QWidget* owner, const QString& text) override;
  QStringList ChooseFiles(QWidget* owner) override;
  void ShowAbout(QWidget* owner) override;
};

}  // namespace quarry
