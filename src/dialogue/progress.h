// The line that tells a long copy's progress on a terminal.
#ifndef PICKCOPY_DIALOGUE_PROGRESS_H_
#define PICKCOPY_DIALOGUE_PROGRESS_H_

#include <cstdint>
#include <functional>
#include <string>

#include "copy/copy_file.h"
#include "dialogue/console.h"

// A copy quicker than this many seconds shows no line at all.
constexpr double kQuietSeconds = 1.0;
// The line is rewritten at most once in this many seconds.
constexpr double kRedrawSeconds = 0.25;

// What the line says: how much is done, of how much, and how fast, as in
// " 42%  430.1 MiB of 1.0 GiB  215.3 MiB/s".
std::string progress_text(std::uint64_t done, std::uint64_t total, double seconds);

// One line, rewritten in place, while a copy takes longer than
// kQuietSeconds; finish() erases it, so that the screen is as it would
// have been without it and what follows starts on a clean line.
class ProgressLine : public CopyProgress {
 public:
  // `now` reads a steady clock in seconds; `write` puts text on the
  // terminal as it is.
  ProgressLine(std::function<double()> now, std::function<void(const std::string&)> write);

  void advanced(std::uint64_t done, std::uint64_t total) override;
  void finish();

  // What erases the line as it stands, for a signal's handler to write.
  const SignalText& erasure() const { return erasure_; }

 private:
  void set_erasure(std::size_t width);

  std::function<double()> now_;
  std::function<void(const std::string&)> write_;
  double start_;
  double drawn_at_ = -1;   // when the line was last written; < 0: never
  std::size_t width_ = 0;  // of the text on the screen
  SignalText erasure_;
};

#endif  // PICKCOPY_DIALOGUE_PROGRESS_H_
