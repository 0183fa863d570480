// A presenter for tests: while it lives it takes the place of the program's
// own, records every message box (text, caption and style) and every error
// details text, and answers each box with the next of `answers`, or with
// `answer` once they are used up.
#pragma once

#include <deque>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "base/presenter.h"

namespace vexo::test {

class BoxRecorder : public Presenter {
 public:
  explicit BoxRecorder(int answerWith = IDOK) : answer(answerWith) { SetPresenter(this); }
  ~BoxRecorder() override { SetPresenter(nullptr); }
  BoxRecorder(const BoxRecorder&) = delete;
  BoxRecorder& operator=(const BoxRecorder&) = delete;

  int MessageBox(std::string_view text, const std::optional<std::string>& caption,
                 unsigned style) override;
  void ShowErrorDetails(std::string_view text) override { details.emplace_back(text); }

  int answer;
  std::deque<int> answers;
  std::vector<std::string> boxes;
  std::vector<std::optional<std::string>> captions;
  std::vector<unsigned> styles;
  std::vector<std::string> details;
};

}  // namespace vexo::test
