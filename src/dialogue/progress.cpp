#include "dialogue/progress.h"

#include <algorithm>
#include <cstdio>
#include <utility>

namespace {

// "430.1 MiB": bytes in the largest binary unit that leaves a number of
// at least 1.
std::string amount(double bytes) {
  static const char* const units[] = {"B", "KiB", "MiB", "GiB", "TiB", "PiB"};
  int unit = 0;
  while (bytes >= 1024 && unit < 5) {
    bytes /= 1024;
    ++unit;
  }
  char text[32];
  (void)std::snprintf(text, sizeof text, unit == 0 ? "%.0f %s" : "%.1f %s", bytes, units[unit]);
  return text;
}

// "head  sizes  tail", or where that does not fit in `columns` less one,
// "head  sizes", or "head"; all of it where the width is unknown (0), and
// nothing below kNarrowestColumns.
std::string fitted(const std::string& head, const std::string& sizes, const std::string& tail,
                   std::size_t columns) {
  if (columns != 0 && columns < kNarrowestColumns)
    return "";
  std::string text = head + "  " + sizes;
  std::string whole = tail.empty() ? text : text + "  " + tail;
  if (columns == 0 || whole.size() < columns)
    return whole;
  if (text.size() < columns)
    return text;
  return head.size() < columns ? head : "";
}

}  // namespace

std::string progress_text(std::uint64_t done, std::uint64_t total, double seconds,
                          std::size_t columns) {
  int percent =
      total == 0 ? 100
                 : static_cast<int>(static_cast<double>(done) * 100.0 / static_cast<double>(total));
  char head[16];
  (void)std::snprintf(head, sizeof head, "%3d%%", percent > 100 ? 100 : percent);
  std::string rate;
  if (seconds > 0)
    rate = amount(static_cast<double>(done) / seconds) + "/s";
  return fitted(head,
                amount(static_cast<double>(done)) + " of " + amount(static_cast<double>(total)),
                rate, columns);
}

std::string flushing_text(std::uint64_t total, std::size_t columns) {
  return fitted("100%", amount(static_cast<double>(total)), "writing to disk", columns);
}

ProgressLine::ProgressLine(std::function<double()> now, std::function<std::size_t()> columns,
                           std::function<void(const std::string&)> write)
    : now_(std::move(now)),
      columns_(std::move(columns)),
      write_(std::move(write)),
      start_(now_()) {}

void ProgressLine::advanced(std::uint64_t done, std::uint64_t total) {
  total_ = total;
  double now = now_();
  if (now - start_ < kQuietSeconds || (drawn_at_ >= 0 && now - drawn_at_ < kRedrawSeconds))
    return;
  std::size_t columns = columns_();
  draw(progress_text(done, total, now - start_, columns), columns);
  drawn_at_ = now;
}

void ProgressLine::flushing() {
  if (width_ == 0)
    return;  // no line on the screen
  std::size_t columns = columns_();
  draw(flushing_text(total_, columns), columns);
}

// Writes `text` over the line, with blanks over what a longer one left
// within the width; a line that says nothing leaves the cursor at its
// start.
void ProgressLine::draw(std::string text, std::size_t columns) {
  std::size_t left = columns == 0 ? width_ : std::min(width_, columns - 1);
  std::size_t shown = text.size();
  if (shown < left)
    text.append(left - shown, ' ');
  if (!text.empty())
    write_("\r" + text + (shown == 0 ? "\r" : ""));
  width_ = shown;
  set_erasure(width_);
}

// "\r", blanks over the line, "\r": the length is set last, once the bytes
// it counts are there.
void ProgressLine::set_erasure(std::size_t width) {
  erasure_.length = 0;
  if (width == 0)
    return;
  if (width + 2 > SignalText::kRoom)
    width = SignalText::kRoom - 2;
  erasure_.bytes[0] = '\r';
  for (std::size_t i = 1; i <= width; ++i)
    erasure_.bytes[i] = ' ';
  erasure_.bytes[width + 1] = '\r';
  erasure_.length = width + 2;
}

void ProgressLine::finish() {
  erasure_.length = 0;
  if (width_ == 0)
    return;
  std::size_t columns = columns_();
  std::size_t width = columns == 0 ? width_ : std::min(width_, columns - 1);
  write_("\r" + std::string(width, ' ') + "\r");
  width_ = 0;
}
