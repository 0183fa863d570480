#include "cli/progress_line.h"

#include <unistd.h>

#include <cstdio>

namespace vexo::cli {
namespace {

constexpr char kClearLine[] = "\r\033[K";  // back to column 1, erase to the end

}  // namespace

ProgressLine::ProgressLine() : m_terminal(::isatty(STDOUT_FILENO) == 1) {}

void ProgressLine::Show(const std::string& text) {
  if (!m_terminal) return;
  std::printf("%s%s", kClearLine, text.c_str());
  std::fflush(stdout);
  m_shown = true;
}

void ProgressLine::Clear() {
  if (!m_shown) return;
  std::fputs(kClearLine, stdout);
  std::fflush(stdout);
  m_shown = false;
}

}  // namespace vexo::cli
