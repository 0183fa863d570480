// Fax files for the viewer tests: system fax files written by the program's
// own writer, and files other programs could have written, made with libtiff.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include <QImage>
#include <QString>

#include "base/presenter.h"

namespace vexo::ui::test {

constexpr std::uint32_t kPageWidth = 1728;

// One page: its row count and the black rectangles on it (x, y, w, h).
struct TestPage {
  using Box = std::array<std::uint32_t, 4>;
  explicit TestPage(std::uint32_t rowCount, std::vector<Box> boxes = {}, bool lsb = false)
      : rows(rowCount), black(std::move(boxes)), lsbFirst(lsb) {}
  std::uint32_t rows;
  std::vector<Box> black;
  bool lsbFirst;  // written with FillOrder 2
};

// Writes a system fax file of the pages (fine resolution, Group 3 1-D).
void WriteSystemFax(const std::string& path, const std::vector<TestPage>& pages);
// A valid Group 3 fax page that names another program as its writer.
void WriteForeignFax(const std::string& path, const char* software);

// Records what the error pool's flush shows.
class RecordingPresenter : public Presenter {
 public:
  RecordingPresenter() { SetPresenter(this); }
  ~RecordingPresenter() override { SetPresenter(nullptr); }
  int MessageBox(std::string_view text, const std::optional<std::string>&, unsigned) override {
    boxes.emplace_back(text);
    return IDOK;
  }
  void ShowErrorDetails(std::string_view text) override { details.emplace_back(text); }
  std::string AllDetails() const;

  std::vector<std::string> boxes;
  std::vector<std::string> details;
};

// Where screenshots go: $VEXO_SCREENSHOT_DIR, else screenshots/ in the build
// directory the test binary is in.
QString ScreenshotDir();

}  // namespace vexo::ui::test
