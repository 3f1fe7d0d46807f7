// The one-line progress display on standard error while a stream runs. It is drawn only when
// standard error is a terminal, so logs and pipes stay clean.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>

namespace kx7host {

// "  2.5 s / 5.0 s   1171 buffer switches   0 glitches"
std::string FormatProgress(double elapsedSeconds, double totalSeconds, uint64_t switches,
                           uint64_t glitches);

bool IsTerminal(std::FILE* stream);

class ProgressLine {
 public:
  // Draws on `stream` only when `enabled`.
  ProgressLine(std::FILE* stream, bool enabled) : stream_(stream), enabled_(enabled) {}
  ~ProgressLine() { Clear(); }
  ProgressLine(const ProgressLine&) = delete;
  ProgressLine& operator=(const ProgressLine&) = delete;

  bool Enabled() const { return enabled_; }
  // Replaces the line's text.
  void Show(const std::string& text);
  // Erases the line, so that what follows starts on a clean line.
  void Clear();

 private:
  std::FILE* stream_;
  bool enabled_;
  size_t shown_ = 0;  // length of the text on screen
};

}  // namespace kx7host
