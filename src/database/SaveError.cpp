#include "database/SaveError.h"

namespace quarry {
namespace {

std::string Text(const std::string& action, const FileError& cause, SaveError::OnDisk onDisk) {
  return action + " failed: " + cause.Reason() + "; " +
         (onDisk == SaveError::OnDisk::kPreviousIndex
              ? "the previous index is kept."
              : "the new index will be completed the next time the index is opened.");
}

}  // namespace

SaveError::SaveError(const std::string& action, const FileError& cause, OnDisk onDisk)
    : FileError(WholeMessage{}, Text(action, cause, onDisk), cause.Reason(), cause.ErrorNumber()),
      onDisk_(onDisk) {}

}  // namespace quarry
