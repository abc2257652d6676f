// What a run says on standard error besides its errors: the progress line and the summary.
#include <cstdarg>
#include <cstdio>
#include <string>

#include "cli/cli.h"

namespace {

// A run shorter than this shows no progress line; one that is not redraws it at this interval.
constexpr uint64_t kProgressDelayMs = 500;
constexpr uint64_t kProgressIntervalMs = 100;

const char* plural(uint64_t count) {
  return count == 1 ? "" : "s";
}

// "0:07", "12:34", "1:02:03".
std::string elapsed_text(uint64_t seconds) {
  char text[32];
  if (seconds < 3600) {
    std::snprintf(text, sizeof text, "%u:%02u", static_cast<unsigned>(seconds / 60),
                  static_cast<unsigned>(seconds % 60));
  } else {
    std::snprintf(text, sizeof text, "%llu:%02u:%02u",
                  static_cast<unsigned long long>(seconds / 3600),
                  static_cast<unsigned>(seconds / 60 % 60), static_cast<unsigned>(seconds % 60));
  }
  return text;
}

// "1,234,567": counts in messages.
std::string with_thousands(uint64_t value) {
  const std::string digits = std::to_string(value);
  std::string out;
  for (size_t i = 0; i < digits.size(); ++i) {
    if (i > 0 && (digits.size() - i) % 3 == 0) out += ',';
    out += digits[i];
  }
  return out;
}

}  // namespace

void Console::start(const RunOptions& options, bool batch) {
  detect();
  progress_ = batch && !options.quiet && stderr_terminal_;
  summary_ = batch && !options.quiet && (options.verbose || stderr_terminal_);
  if (progress_) {
    start_ms_ = now_ms();
    width_ = terminal_width();
  }
}

Writer* Console::wrap(Writer* writer) {
  if (!stdout_console_ && !(progress_ && stdout_same_terminal_)) return writer;
  wrapper_.console = this;
  wrapper_.inner = writer;
  return &wrapper_;
}

// A progress line erased for a line of output is drawn again below it, so that it stays in view
// while the lines scroll past.
template <class Call>
void Console::Wrapper::around(Call call) {
  const bool shown = console->erase(true);
  call();
  console->pass_on_output();
  if (shown) console->draw();
}

void Console::Wrapper::begin(const char* document_name) {
  around([&] { inner->begin(document_name); });
}

void Console::Wrapper::photo(const Photo& photo) {
  around([&] { inner->photo(photo); });
}

void Console::Wrapper::end() {
  around([&] { inner->end(); });
}

void Console::message(const char* format, ...) {
  erase(false);
  std::string text = "pinreel: ";
  va_list arguments;
  va_start(arguments, format);
  va_list again;
  va_copy(again, arguments);
  const int length = std::vsnprintf(nullptr, 0, format, arguments);
  va_end(arguments);
  if (length > 0) {
    const size_t start = text.size();
    text.resize(start + static_cast<size_t>(length) + 1);
    std::vsnprintf(&text[start], static_cast<size_t>(length) + 1, format, again);
    text.back() = '\n';  // in place of the terminator
  }
  va_end(again);
  write_error(text);
}

void Console::write_error(const std::string& text) {
  if (stderr_console_) {
    write_console(text, false);
  } else {
    std::fwrite(text.data(), 1, text.size(), stderr);
  }
}

void Console::tick_progress(const RunCounts& counts) {
  const uint64_t now = now_ms();
  if (now - start_ms_ < kProgressDelayMs ||
      (last_draw_ms_ != 0 && now - last_draw_ms_ < kProgressIntervalMs)) {
    return;
  }
  last_draw_ms_ = now;
  line_ = "pinreel: " + with_thousands(counts.read) + " photo" + plural(counts.read) + " read, " +
          with_thousands(counts.listed) + " with a position, " +
          elapsed_text((now - start_ms_) / 1000);
  // A line that wrapped could not be overwritten.
  if (width_ > 1 && line_.size() > width_ - 1) line_.resize(width_ - 1);
  draw();
}

void Console::draw() {
  std::string text = "\r" + line_;
  if (line_.size() < shown_length_) text.append(shown_length_ - line_.size(), ' ');
  if (line_.size() > shown_length_) shown_length_ = line_.size();
  write_error(text);
}

bool Console::erase(bool before_output) {
  if (shown_length_ == 0 || (before_output && !stdout_same_terminal_)) return false;
  write_error("\r" + std::string(shown_length_, ' ') + "\r");
  shown_length_ = 0;
  return true;
}

void Console::finish(const RunCounts& counts) {
  erase(false);
  if (!summary_) return;
  std::string thumbnails;
  if (counts.thumbnails_left_out != 0) {
    thumbnails = "; " + with_thousands(counts.thumbnails_left_out) + " photo" +
                 plural(counts.thumbnails_left_out) + " without a thumbnail in the page (" +
                 std::to_string(kPageThumbnailBudget >> 20) + " MiB of thumbnails at most)";
  }
  message(
      "%s photo%s read: %s with a position, %s duplicate%s left out, %s without a position; "
      "%s could not be read%s",
      with_thousands(counts.read).c_str(), plural(counts.read),
      with_thousands(counts.listed).c_str(), with_thousands(counts.duplicates).c_str(),
      plural(counts.duplicates), with_thousands(counts.without_position).c_str(),
      with_thousands(counts.unreadable).c_str(), thumbnails.c_str());
  if (counts.unread_sidecars != 0) {
    message("%s photo%s without a position ha%s a sidecar file: add -s to read %s",
            with_thousands(counts.unread_sidecars).c_str(), plural(counts.unread_sidecars),
            counts.unread_sidecars == 1 ? "s" : "ve", counts.unread_sidecars == 1 ? "it" : "them");
  }
}
