#include "tests/support/box_recorder.h"

namespace vexo::test {

BoxRecorder::BoxRecorder(int answerWith) : answer(answerWith) { SetPresenter(this); }

BoxRecorder::~BoxRecorder() { SetPresenter(nullptr); }

int BoxRecorder::MessageBox(std::string_view text, const std::optional<std::string>&,
                            unsigned style) {
  boxes.emplace_back(text);
  styles.push_back(style);
  return answer;
}

void BoxRecorder::ShowErrorDetails(std::string_view text) { details.emplace_back(text); }

}  // namespace vexo::test
