#include "path/native_win32.h"

#include <windows.h>

#include <set>

#include "path/path.h"

namespace {

// The components held in UTF-8, as their bytes.
std::set<std::string>& utf8_components() {
  static std::set<std::string> components;
  return components;
}

// The ANSI code page's bytes for `text`; false when a character has none.
bool to_ansi(const std::wstring& text, std::string* out) {
  out->clear();
  if (text.empty())
    return true;
  BOOL lossy = FALSE;
  int n = WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, text.data(),
                              static_cast<int>(text.size()), nullptr, 0, nullptr, &lossy);
  if (n <= 0 || lossy)
    return false;
  out->resize(static_cast<std::size_t>(n));
  WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, text.data(), static_cast<int>(text.size()),
                      &(*out)[0], n, nullptr, &lossy);
  return !lossy;
}

std::string to_utf8(const std::wstring& text) {
  if (text.empty())
    return std::string();
  int n = WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0,
                              nullptr, nullptr);
  std::string out(static_cast<std::size_t>(n > 0 ? n : 0), '\0');
  if (n > 0)
    WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), &out[0], n, nullptr,
                        nullptr);
  return out;
}

std::wstring from_code_page(unsigned code_page, const std::string& text) {
  if (text.empty())
    return std::wstring();
  int n = MultiByteToWideChar(code_page, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
  std::wstring out(static_cast<std::size_t>(n > 0 ? n : 0), L'\0');
  if (n > 0)
    MultiByteToWideChar(code_page, 0, text.data(), static_cast<int>(text.size()), &out[0], n);
  return out;
}

bool is_wide_separator(wchar_t c) { return c < 0x80 && is_separator(static_cast<char>(c)); }

}  // namespace

std::string narrow_name(const std::wstring& name) {
  std::string out;
  std::size_t start = 0;
  while (start <= name.size()) {
    std::size_t end = start;
    while (end < name.size() && !is_wide_separator(name[end]))
      ++end;
    std::wstring component = name.substr(start, end - start);
    std::string bytes;
    if (!to_ansi(component, &bytes)) {
      bytes = to_utf8(component);
      utf8_components().insert(bytes);
    }
    out += bytes;
    if (end < name.size())
      out += static_cast<char>(name[end]);
    start = end + 1;
  }
  return out;
}

std::wstring wide_name(const std::string& name) {
  std::wstring out;
  std::size_t start = 0;
  while (start <= name.size()) {
    std::size_t end = start;
    while (end < name.size() && !is_separator(name[end]))
      ++end;
    std::string component = name.substr(start, end - start);
    bool utf8 = utf8_components().count(component) != 0;
    out += from_code_page(utf8 ? CP_UTF8 : CP_ACP, component);
    if (end < name.size())
      out += static_cast<wchar_t>(name[end]);
    start = end + 1;
  }
  return out;
}

std::wstring full_path(const std::wstring& path) {
  DWORD n = GetFullPathNameW(path.c_str(), 0, nullptr, nullptr);
  if (n == 0)
    return path;
  std::wstring full(n, L'\0');
  n = GetFullPathNameW(path.c_str(), n, &full[0], nullptr);
  full.resize(n);
  return full;
}

std::wstring system_path(const std::string& name) {
  std::wstring wide = wide_name(name);
  // Folders are limited to 248 characters, files to 260.
  if (wide.size() < 248 || wide.compare(0, 4, L"\\\\?\\") == 0)
    return wide;
  std::wstring full = full_path(wide);
  if (full.compare(0, 2, L"\\\\") == 0)
    return L"\\\\?\\UNC\\" + full.substr(2);
  return L"\\\\?\\" + full;
}
