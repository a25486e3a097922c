// Names on Windows. The dialogue works on 8-bit names; the system's names
// are UTF-16. A name whose every character exists in the ANSI code page is
// held in that code page's bytes, exactly as the system's A functions give
// it; any other component of a name is held in UTF-8 and remembered as
// such, so that it leads back to its file.
#ifndef PICKCOPY_PATH_NATIVE_WIN32_H_
#define PICKCOPY_PATH_NATIVE_WIN32_H_

#include <string>

// The 8-bit form of a system name.
std::string narrow_name(const std::wstring& name);

// The system's form of an 8-bit name.
std::wstring wide_name(const std::string& name);

// The full path of `path`, as GetFullPathNameW makes it.
std::wstring full_path(const std::wstring& path);

// The form to hand to the system's file functions: wide_name, and past the
// classic 260-character limit the full path behind the \\?\ prefix, which
// lifts the limit.
std::wstring system_path(const std::string& name);

#endif  // PICKCOPY_PATH_NATIVE_WIN32_H_
