#include "dialogue/progress.h"

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

}  // namespace

std::string progress_text(std::uint64_t done, std::uint64_t total, double seconds) {
  int percent =
      total == 0 ? 100
                 : static_cast<int>(static_cast<double>(done) * 100.0 / static_cast<double>(total));
  char head[16];
  (void)std::snprintf(head, sizeof head, "%3d%%", percent > 100 ? 100 : percent);
  std::string text = std::string(head) + "  " + amount(static_cast<double>(done)) + " of " +
                     amount(static_cast<double>(total));
  if (seconds > 0)
    text += "  " + amount(static_cast<double>(done) / seconds) + "/s";
  return text;
}

ProgressLine::ProgressLine(std::function<double()> now,
                           std::function<void(const std::string&)> write)
    : now_(std::move(now)), write_(std::move(write)), start_(now_()) {}

void ProgressLine::advanced(std::uint64_t done, std::uint64_t total) {
  double now = now_();
  if (now - start_ < kQuietSeconds || (drawn_at_ >= 0 && now - drawn_at_ < kRedrawSeconds))
    return;
  std::string text = progress_text(done, total, now - start_);
  std::size_t shown = text.size();
  if (shown < width_)
    text.append(width_ - shown, ' ');  // over what a longer line left
  width_ = shown > width_ ? shown : width_;
  set_erasure(width_);
  write_("\r" + text);
  drawn_at_ = now;
}

// "\r", blanks over the line, "\r": the length is set last, once the bytes
// it counts are there.
void ProgressLine::set_erasure(std::size_t width) {
  if (width + 2 > SignalText::kRoom)
    width = SignalText::kRoom - 2;
  erasure_.length = 0;
  erasure_.bytes[0] = '\r';
  for (std::size_t i = 1; i <= width; ++i)
    erasure_.bytes[i] = ' ';
  erasure_.bytes[width + 1] = '\r';
  erasure_.length = width + 2;
}

void ProgressLine::finish() {
  erasure_.length = 0;
  if (drawn_at_ < 0)
    return;
  write_("\r" + std::string(width_, ' ') + "\r");
  drawn_at_ = -1;
  width_ = 0;
}
