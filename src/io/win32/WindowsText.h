// Text at the Win32 boundary: Quarry's paths are UTF-8 bytes, the system's are UTF-16, and the
// system's error messages come back as UTF-8 for FileError and the user.
#pragma once

#include <string>
#include <string_view>

namespace quarry::windows {

// utf8 as UTF-16; bytes that are not UTF-8 become U+FFFD (no such name can exist on Windows).
std::wstring Wide(std::string_view utf8);

// wide as UTF-8.
std::string Utf8(std::wstring_view wide);

// The real path of the file or folder an open handle holds (GetFinalPathNameByHandleW), as
// UTF-8 with '/' between its parts and without the \\?\ prefix; empty when the system cannot
// say. handle is a HANDLE.
std::string FinalPathOf(void* handle);

// The system's text for a GetLastError() value, without the line end it comes with.
std::string SystemMessage(unsigned long error);

// The errno value nearest to a GetLastError() value (EIO when none is near), so that callers
// that tell errors apart by errno work the same on both systems.
int ErrnoOf(unsigned long error);

}  // namespace quarry::windows
