// Names on Windows. The system's names are UTF-16; the dialogue holds each
// name as one 8-bit string, whose form only these functions know: the
// UTF-16 text in WTF-8 (UTF-8 that also carries an unpaired surrogate), so
// that every name leads back to exactly the wide string it came from, no
// two names share a form, and the separators '\', '/' and ':' are single
// bytes that no other character contains. A name that a folder search
// returned carries a mark before the entry's own name: that part is then
// opened exactly as it was found.
//
// What the dialogue writes for a name to a file or a pipe, and what the
// menu's order compares, is its code page form: each component in the
// ANSI code page's bytes where it has them all, in UTF-8 otherwise.
#ifndef PICKCOPY_PATH_NATIVE_WIN32_H_
#define PICKCOPY_PATH_NATIVE_WIN32_H_

#include <string>

// The form the dialogue holds for a name that the user gave or the system
// returned as a path.
std::string narrow_name(const std::wstring& name);

// The form the dialogue holds for `entry`, a name that a folder search
// returned, after `folder`, the held form of the folder part of the pattern
// that found it.
std::string found_name(const std::string& folder, const std::wstring& entry);

// The system's form of a held name.
std::wstring wide_name(const std::string& name);

// The bytes written for a held name where a stream is not a console.
std::string code_page_form(const std::string& name);

// The full path of `path`, as GetFullPathNameW makes it.
std::wstring full_path(const std::wstring& path);

// The form to hand to the system's file functions. A name the user gave
// keeps Windows' own rules (trailing dots and spaces dropped, device names
// such as NUL and CON), and past the classic 260-character limit it is
// given as its full path behind the \\?\ prefix, which lifts the limit. A
// name that a folder search returned is given behind that prefix always,
// so that its entry is opened exactly as found: "conf." is not "conf".
std::wstring system_path(const std::string& name);

#endif  // PICKCOPY_PATH_NATIVE_WIN32_H_
