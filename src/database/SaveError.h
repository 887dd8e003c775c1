// The error of a Save or Reset that failed: says so in the user's terms, with the reason and
// what the disk now holds. The window and the command line show what() as it stands.
#pragma once

#include <string>

#include "io/FileError.h"

namespace quarry {

class SaveError : public FileError {
 public:
  // What the database files hold after the failure.
  enum class OnDisk {
    kPreviousIndex,    // the replacement was undone before its roll-forward record was written
    kNewIndexPending,  // the record is written: the next opening puts the new files in place
  };

  // action: what failed, as the start of a sentence ("Saving the index"). what() reads
  // "<action> failed: <cause's reason>; the previous index is kept." or "...; the new index will
  // be completed the next time the index is opened."; ErrorNumber() is the cause's.
  SaveError(const std::string& action, const FileError& cause, OnDisk onDisk);

  OnDisk WhatIsOnDisk() const { return onDisk_; }

 private:
  OnDisk onDisk_;
};

}  // namespace quarry
