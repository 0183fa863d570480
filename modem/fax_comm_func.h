// FaxCommFunc: the modem command exchange every fax class shares, on top of
// the serial port object: waiting for the final result ("OK" or "ERROR"),
// counting rings, the fixed hang-up sequence, token and byte searches in
// result lines, numbers, digit fields and quoted identifications taken out of
// result lines, byte and bit reversal, and pacing page data to a line rate.
// The three protocol classes derive from it; reports go under "FaxCommFunc".
#pragma once

#include <cstddef>
#include <cstdint>

#include "modem/final_results.h"

namespace vexo {

class WinCOMCE;
class LogFile;
class JobControl;

constexpr std::uint32_t kWaitOkMs = 5000;
constexpr std::size_t kResultLinesMax = 10;
constexpr std::size_t kQuotedValueChars = 20;
constexpr std::size_t kQuotedValueWChars = 32;
constexpr std::size_t kFaxParamFields = 8;

// A buffer and its first line: SplitFirstLine fills line and rest.
struct LineSplit {
  const char* buffer = nullptr;
  std::size_t length = 0;
  const char* rest = nullptr;
  std::size_t restLength = 0;
  const char* line = nullptr;
  std::size_t lineLength = 0;
};

class FaxCommFunc {
 public:
  FaxCommFunc() = default;
  virtual ~FaxCommFunc() = default;
  FaxCommFunc(const FaxCommFunc&) = delete;
  FaxCommFunc& operator=(const FaxCommFunc&) = delete;

  // Stores the port and takes its log writer and job control.
  void Attach(WinCOMCE* port);
  WinCOMCE* Port() const { return m_port; }

  // 1 for OK, 0 for ERROR or a read failure, -1 when no decision came within
  // the timeout (a deadline for the whole wait).
  int MatchOKResult(std::uint32_t timeoutMs, bool report);
  // Number of "RING" lines seen until minRings or a quiet read; -1 on failure.
  int WaitRings(std::uint32_t timeoutMs, int minRings, bool report);
  // "AT", "ATH0", "AT+FCLASS=0", "ATZ", each waited for; 1, or 0 when a
  // command cannot be written. A closed port gives 1.
  int HangupModem();

  // Position of token in text, -1 when absent, -2 when the text ends with the
  // token's beginning. The matcher never steps back.
  static int FindToken(const char* text, const char* token);
  // The same over bytes of known length; -1 when absent, never -2.
  static int FindBytes(const std::uint8_t* buffer, std::size_t length, const std::uint8_t* pattern,
                       std::size_t patternLength);
  // The eight digit fields of a parameter report; 1 when anything was found.
  static int ParseFaxParams(const char* line, std::uint8_t fields[kFaxParamFields],
                            const char* requiredToken);
  // The (quoted) value after the first ":": at most 20 characters.
  static void GetQuotedValue(const char* line, char value[kQuotedValueChars + 1]);
  static void GetQuotedValueW(const char* line, char16_t value[kQuotedValueWChars]);
  // The number after the first ":", or -1.
  static long ParseNumberAfterColon(const char* line, bool hexadecimal);
  static int SplitFirstLine(LineSplit& state);
  static void ReverseBytes(std::uint8_t* buffer, std::size_t length);
  static void ReverseBits(std::uint8_t* buffer, std::size_t length);

  void StartPacing(std::uint32_t bytesPerSecond);
  int PaceData(std::uint32_t slackMs, std::uint32_t length);

  // Reports a "+FHNG:" (class 2) or "+FHS:" (class 20) line with its code's text.
  int ReportHangupCodeError(const char* line, int faxClass);

 protected:
  WinCOMCE* m_port = nullptr;
  LogFile* m_log = nullptr;
  JobControl* m_job = nullptr;
  // The two final results a command ends in, for the classes' own readers.
  static constexpr const char* m_okText = ResultWord(FinalResult::Ok);
  static constexpr const char* m_errorText = ResultWord(FinalResult::Error);
  std::uint32_t m_pacingRate = 0;
  std::uint32_t m_lastChunkLength = 0;
  std::uint32_t m_lastChunkTime = 0;
};

// Millisecond tick count of a steady clock (wraps like a 32-bit tick counter).
std::uint32_t TickCountMs();

}  // namespace vexo
