#include "tests/support/box_recorder.h"

namespace vexo::test {

int BoxRecorder::MessageBox(std::string_view text, const std::optional<std::string>& caption,
                            unsigned style) {
  boxes.emplace_back(text);
  captions.push_back(caption);
  styles.push_back(style);
  if (answers.empty()) return answer;
  const int next = answers.front();
  answers.pop_front();
  return next;
}

}  // namespace vexo::test
