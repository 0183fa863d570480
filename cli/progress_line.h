// The progress of long work on one terminal line, rewritten in place and
// cleared at the end. When stdout is not a terminal it shows nothing, so
// readers of the output get only the command's plain lines.
#pragma once

#include <string>

namespace vexo::cli {

class ProgressLine {
 public:
  ProgressLine();
  ~ProgressLine() { Clear(); }
  ProgressLine(const ProgressLine&) = delete;
  ProgressLine& operator=(const ProgressLine&) = delete;

  // Whether stdout is a terminal.
  bool OnTerminal() const { return m_terminal; }
  // Replaces the line with text.
  void Show(const std::string& text);
  // Empties the line, so that a plain line can follow.
  void Clear();

 private:
  bool m_terminal;
  bool m_shown = false;
};

}  // namespace vexo::cli
