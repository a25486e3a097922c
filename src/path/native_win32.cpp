#include "path/native_win32.h"

#include <windows.h>

#include <cstdint>
#include <string_view>

#include "path/path.h"

namespace {

// Stands before the entry of a name that a folder search returned. No
// byte of WTF-8 is 0xFF.
constexpr char kFoundMark = '\xff';

constexpr std::wstring_view kExtended = L"\\\\?\\";

bool starts_with(const std::wstring& text, std::wstring_view start) {
  return text.compare(0, start.size(), start) == 0;
}

void append_code_point(std::string* out, std::uint32_t c) {
  if (c < 0x80) {
    *out += static_cast<char>(c);
    return;
  }
  static const unsigned kLead[] = {0, 0xC0, 0xE0, 0xF0};  // by the count of bytes that follow
  int extra = c < 0x800 ? 1 : c < 0x10000 ? 2 : 3;
  *out += static_cast<char>(kLead[extra] | (c >> (6 * extra)));
  for (int shift = 6 * (extra - 1); shift >= 0; shift -= 6)
    *out += static_cast<char>(0x80 | ((c >> shift) & 0x3F));
}

// UTF-16 in WTF-8: a surrogate pair as its code point, an unpaired
// surrogate as itself, so that the bytes lead back to the same units.
std::string to_wtf8(std::wstring_view text) {
  std::string out;
  out.reserve(text.size());
  for (std::size_t i = 0; i < text.size(); ++i) {
    std::uint32_t c = static_cast<std::uint16_t>(text[i]);
    if (IS_HIGH_SURROGATE(c) && i + 1 < text.size() && IS_LOW_SURROGATE(text[i + 1]))
      c = 0x10000 + ((c - 0xD800) << 10) + (static_cast<std::uint16_t>(text[++i]) - 0xDC00);
    append_code_point(&out, c);
  }
  return out;
}

// The units that to_wtf8 made `bytes` from; the mark of a found name is
// passed over. (A byte that no such text holds stands for U+FFFD.)
std::wstring from_wtf8(std::string_view bytes) {
  std::wstring out;
  out.reserve(bytes.size());
  std::size_t i = 0;
  while (i < bytes.size()) {
    unsigned char lead = static_cast<unsigned char>(bytes[i++]);
    if (lead == static_cast<unsigned char>(kFoundMark))
      continue;
    std::size_t extra = lead >= 0xF0 ? 3 : lead >= 0xE0 ? 2 : lead >= 0xC0 ? 1 : 0;
    std::uint32_t c = extra == 0 ? lead : lead & (0x3Fu >> extra);
    bool whole = (lead < 0x80 || extra != 0) && bytes.size() - i >= extra;
    for (std::size_t k = 0; whole && k < extra; ++k, ++i) {
      unsigned char next = static_cast<unsigned char>(bytes[i]);
      whole = (next & 0xC0) == 0x80;
      c = (c << 6) | (next & 0x3F);
    }
    if (!whole) {
      out += L'\xFFFD';
    } else if (c >= 0x10000) {
      c -= 0x10000;
      out += static_cast<wchar_t>(0xD800 + (c >> 10));
      out += static_cast<wchar_t>(0xDC00 + (c & 0x3FF));
    } else {
      out += static_cast<wchar_t>(c);
    }
  }
  return out;
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

// UTF-8 as the system makes it: an unpaired surrogate becomes U+FFFD.
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

bool is_wide_separator(wchar_t c) { return c < 0x80 && is_separator(static_cast<char>(c)); }

// `full`, a full path, behind the prefix that turns off the system's
// rewriting of names and lifts the length limit.
std::wstring extended(const std::wstring& full) {
  if (starts_with(full, kExtended))
    return full;
  if (starts_with(full, L"\\\\.\\"))  // a device's path: the same namespace
    return std::wstring(kExtended) + full.substr(4);
  if (starts_with(full, L"\\\\"))
    return L"\\\\?\\UNC\\" + full.substr(2);
  return std::wstring(kExtended) + full;
}

// `entry` exactly as a folder search gave it, in the folder `folder` that
// the user named, which keeps the ordinary rules.
std::wstring exact_path(const std::wstring& folder, const std::wstring& entry) {
  std::wstring path =
      starts_with(folder, kExtended) ? folder : extended(full_path(folder.empty() ? L"." : folder));
  if (!path.empty() && path.back() != L'\\')
    path += L'\\';
  return path + entry;
}

}  // namespace

std::string narrow_name(const std::wstring& name) { return to_wtf8(name); }

std::string found_name(const std::string& folder, const std::wstring& entry) {
  return folder + kFoundMark + to_wtf8(entry);
}

std::wstring wide_name(const std::string& name) { return from_wtf8(name); }

std::string code_page_form(const std::string& name) {
  std::wstring wide = wide_name(name);
  std::string out;
  std::size_t start = 0;
  while (start <= wide.size()) {
    std::size_t end = start;
    while (end < wide.size() && !is_wide_separator(wide[end]))
      ++end;
    std::wstring component = wide.substr(start, end - start);
    std::string bytes;
    if (!to_ansi(component, &bytes))
      bytes = to_utf8(component);
    out += bytes;
    if (end < wide.size())
      out += static_cast<char>(wide[end]);
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
  std::size_t mark = name.find(kFoundMark);
  if (mark != std::string::npos) {
    std::wstring entry = wide_name(name.substr(mark + 1));
    // The folder's own entries are not names of files.
    if (entry != L"." && entry != L"..")
      return exact_path(wide_name(name.substr(0, mark)), entry);
  }
  std::wstring wide = wide_name(name);
  // Folders are limited to 248 characters, files to 260.
  if (wide.size() < 248 || starts_with(wide, kExtended))
    return wide;
  return extended(full_path(wide));
}
