#include "host/common/ProgressLine.h"

#ifdef _WIN32
#include <io.h>
#else
#include <unistd.h>
#endif

namespace kx7host {

std::string FormatProgress(double elapsedSeconds, double totalSeconds, uint64_t switches,
                           uint64_t glitches) {
  char text[128];
  std::snprintf(text, sizeof text, "%6.1f s / %.1f s   %llu buffer switches   %llu glitch%s",
                elapsedSeconds, totalSeconds, static_cast<unsigned long long>(switches),
                static_cast<unsigned long long>(glitches), glitches == 1 ? "" : "es");
  return text;
}

bool IsTerminal(std::FILE* stream) {
#ifdef _WIN32
  return _isatty(_fileno(stream)) != 0;
#else
  return isatty(fileno(stream)) != 0;
#endif
}

void ProgressLine::Show(const std::string& text) {
  if (!enabled_) return;
  // Spaces cover what is left of a longer previous text.
  const size_t pad = shown_ > text.size() ? shown_ - text.size() : 0;
  std::fprintf(stream_, "\r%s%*s", text.c_str(), static_cast<int>(pad), "");
  std::fflush(stream_);
  shown_ = text.size();
}

void ProgressLine::Clear() {
  if (!enabled_ || shown_ == 0) return;
  std::fprintf(stream_, "\r%*s\r", static_cast<int>(shown_), "");
  std::fflush(stream_);
  shown_ = 0;
}

}  // namespace kx7host
