// Every modal question and notice of the main window goes through this interface, so that a
// test can answer for the user. DialogPrompts is the one that asks a person.
#pragma once

#include <QString>
#include <QStringList>

class QWidget;

namespace quarry {

class UserPrompts {
 public:
  virtual ~UserPrompts() = default;

  // A notice in the StatusDialog (text and OK) over owner; returns when it is closed.
  virtual void ShowMessage(QWidget* owner, const QString& text) = 0;

  // "Generate new index?" in the NewIndexDialog; true only for Yes.
  virtual bool AskNewIndex(QWidget* owner) = 0;

  // A file error that ended a command, with the system's text.
  virtual void ShowFileError(QWidget* owner, const QString& text) = 0;

  // The open-file dialog for existing files (filter "HTML Files": *.htm, *.html), multiple
  // selection. The chosen full paths in the dialog's order; empty for Cancel.
  virtual QStringList ChooseFiles(QWidget* owner) = 0;

  // The about box, modal.
  virtual void ShowAbout(QWidget* owner) = 0;
};

}  // namespace quarry
