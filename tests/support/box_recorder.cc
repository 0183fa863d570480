#include "tests/support/box_recorder.h"

namespace vexo::test {

BoxRecorder::BoxRecorder(int answerWith) : answer(answerWith) { SetPresenter(this); }

BoxRecorder::~BoxRecorder() { SetPresenter(nullptr); }

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

void BoxRecorder::ShowErrorDetails(std::string_view text) { details.emplace_back(text); }

}  // namespace vexo::test
