// The line that tells a long copy's progress on a terminal.
#ifndef PICKCOPY_DIALOGUE_PROGRESS_H_
#define PICKCOPY_DIALOGUE_PROGRESS_H_

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>

#include "copy/copy_file.h"
#include "dialogue/console.h"

// A copy quicker than this many seconds shows no line at all.
constexpr double kQuietSeconds = 1.0;
// The line is rewritten at most once in this many seconds.
constexpr double kRedrawSeconds = 0.25;
// A terminal narrower than this many columns is shown no line.
constexpr std::size_t kNarrowestColumns = 6;

// What the line says: how much is done, of how much, and how fast, as in
// " 42%  430.1 MiB of 1.0 GiB  215.3 MiB/s", within `columns` less one:
// without the rate where it does not fit, then without the sizes, and
// nothing below kNarrowestColumns. 0 columns: the width is unknown, and
// the line is whole.
std::string progress_text(std::uint64_t done, std::uint64_t total, double seconds,
                          std::size_t columns = 0);

// The line while the final flush writes what is left to the disk, as in
// "100%  1.0 GiB  writing to disk", fitted as progress_text() fits.
std::string flushing_text(std::uint64_t total, std::size_t columns = 0);

// One line, rewritten in place, while a copy takes longer than
// kQuietSeconds; finish() erases it, so that the screen is as it would
// have been without it and what follows starts on a clean line. Each
// update fits the terminal's width as it is then, and never writes past
// it, not even to blank what a wider update left.
class ProgressLine : public CopyProgress {
 public:
  // `now` reads a steady clock in seconds; `columns` tells the terminal's
  // width (0: unknown); `write` puts text on the terminal as it is.
  ProgressLine(std::function<double()> now, std::function<std::size_t()> columns,
               std::function<void(const std::string&)> write);

  void advanced(std::uint64_t done, std::uint64_t total) override;
  // A line on the screen says that the rest is being written to the disk,
  // since nothing can be drawn while the flush blocks.
  void flushing() override;
  void finish();

  // What erases the line as it stands, for a signal's handler to write.
  const SignalText& erasure() const { return erasure_; }

 private:
  void draw(std::string text, std::size_t columns);
  void set_erasure(std::size_t width);

  std::function<double()> now_;
  std::function<std::size_t()> columns_;
  std::function<void(const std::string&)> write_;
  double start_;
  double drawn_at_ = -1;     // when the line was last written; < 0: never
  std::size_t width_ = 0;    // of the text on the screen
  std::uint64_t total_ = 0;  // the size the line last told
  SignalText erasure_;
};

#endif  // PICKCOPY_DIALOGUE_PROGRESS_H_
