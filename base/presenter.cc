#include "base/presenter.h"

#include <unistd.h>

#include <array>
#include <atomic>
#include <cstdarg>
#include <cstdio>
#include <iostream>
#include <mutex>

#include "base/strings.h"
#include "platform/text.h"

namespace vexo {
namespace {

ConsolePresenter g_console;
std::atomic<Presenter*> g_presenter{nullptr};

constexpr std::size_t kMessageChars = 4095;

struct Caption {
  unsigned icon;
  unsigned stringId;
  const char* fallback;
};
constexpr std::array<Caption, 4> kCaptions{{
    {MB_ICONSTOP, 65075, "ERROR"},
    {MB_ICONEXCLAMATION, 65076, "WARNING"},
    {MB_ICONINFORMATION, 65077, "INFORMATION"},
    {MB_ICONQUESTION, 65078, "QUESTION"},
}};

bool AsksQuestion(unsigned style) {
  return (style & 0x0F) == MB_YESNO || (style & 0x0F) == MB_OKCANCEL;
}

}  // namespace

int ConsolePresenter::MessageBox(std::string_view text, const std::optional<std::string>& caption,
                                 unsigned style) {
  std::cerr << (caption ? *caption + ": " : std::string()) << text << "\n";
  if (!AsksQuestion(style)) return IDOK;
  const bool yesNo = (style & 0x0F) == MB_YESNO;
  if (!isatty(STDIN_FILENO)) return yesNo ? IDNO : IDCANCEL;
  std::cerr << (yesNo ? "[y/N] " : "[o(k)/C(ancel)] ") << std::flush;
  std::string answer;
  std::getline(std::cin, answer);
  const bool accepted = !answer.empty() && (answer[0] == 'y' || answer[0] == 'Y' ||
                                            (!yesNo && (answer[0] == 'o' || answer[0] == 'O')));
  if (yesNo) return accepted ? IDYES : IDNO;
  return accepted ? IDOK : IDCANCEL;
}

void ConsolePresenter::ShowErrorDetails(std::string_view text) { std::cerr << text; }

Presenter& CurrentPresenter() {
  Presenter* p = g_presenter.load();
  return p ? *p : g_console;
}

void SetPresenter(Presenter* presenter) { g_presenter.store(presenter); }

std::optional<std::string> CaptionForStyle(unsigned style) {
  // Looked up once at the first call and kept, as the string table is fixed for the run.
  static const std::array<std::string, 4> texts = [] {
    std::array<std::string, 4> out;
    for (std::size_t i = 0; i < kCaptions.size(); ++i)
      out[i] = HasResString(kCaptions[i].stringId) ? LoadResString(kCaptions[i].stringId)
                                                   : std::string(kCaptions[i].fallback);
    return out;
  }();
  for (std::size_t i = 0; i < kCaptions.size(); ++i)
    if ((style & 0xF0) == kCaptions[i].icon) return texts[i];
  return std::nullopt;
}

int ShowMessage(unsigned style, const char* caption, unsigned stringId, ...) {
  const std::string format = LoadResString(stringId);
  va_list args;
  va_start(args, stringId);
  const std::string text = FormatV(kMessageChars, format.c_str(), args);
  va_end(args);
  return CurrentPresenter().MessageBox(
      text, caption ? std::optional<std::string>(caption) : CaptionForStyle(style), style);
}

}  // namespace vexo
