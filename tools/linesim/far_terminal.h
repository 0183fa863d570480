// The far fax machine: spandsp's T.30 terminal on audio, an implementation of
// T.30 independent of the program under test. As the called party it answers
// with CED and receives into a TIFF file; as the calling party it sends a TIFF.
// After the call it reports what T.30 saw (pages, rate, resolution, result).
#pragma once

#include <spandsp.h>

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "tools/linesim/audio.h"

namespace vexo::linesim {

struct FarTerminalSetup {
  bool calling = false;     // calls (sends txFile) or is called (receives into rxFile)
  std::string ident;        // its station identifier (CSI / TSI)
  std::string txFile;       // TIFF to send when calling
  std::string rxFile;       // TIFF to write when called; empty: pages are decoded, not kept
  bool refuseFine = false;  // offer normal resolution only
  bool ecm = false;         // offer and use error correction mode
  // T30_SUPPORT_*_COMPRESSION bits the terminal offers and uses.
  int compressions = T30_SUPPORT_T4_1D_COMPRESSION | T30_SUPPORT_T4_2D_COMPRESSION;
  bool verbose = false;
};

// What the far terminal's T.30 reports at the end of a call.
struct FarResult {
  bool finished = false;   // phase E was reached
  int completionCode = 0;  // T30_ERR_* value
  std::string completionText;
  int pages = 0;         // pages sent or received
  int pagesRefused = 0;  // pages answered with RTN (protocol-level far end only)
  int bitRate = 0;
  int xResolution = 0;  // pixels per metre
  int yResolution = 0;
  std::string remoteIdent;   // the identifier the other side sent
  std::string receivedFile;  // where a protocol-level far end stored what it received
  std::vector<int> badRows;  // per page received: rows that did not decode
  bool ecm = false;          // the pages went with error correction
  std::string coding;        // "T.4 1-D", "T.4 2-D", "T.6"; empty before any page
};

// A T4_COMPRESSION_* value as reports name it: "T.4 1-D", "T.4 2-D", "T.6";
// empty for anything else.
std::string CodingName(int encoding);

class FarTerminal : public AudioEndpoint {
  // Only Create can make one, so that every terminal has a working T.30.
  class Token {
    explicit Token() = default;
    friend class FarTerminal;
  };

 public:
  static std::unique_ptr<FarTerminal> Create(const FarTerminalSetup& setup, std::string& error);
  FarTerminal(Token, const FarTerminalSetup& setup);
  ~FarTerminal() override;
  FarTerminal(const FarTerminal&) = delete;
  FarTerminal& operator=(const FarTerminal&) = delete;

  void Transmit(std::span<std::int16_t> out) override;
  void Receive(std::span<std::int16_t> in) override;

  // True once T.30 has finished the call (phase E).
  bool finished() const { return m_result.finished; }
  // The result so far; complete once finished().
  FarResult Result();

 private:
  static void OnPhaseE(t30_state_t* t30, void* self, int completionCode);
  static int OnPhaseD(t30_state_t* t30, void* self, int result);
  void Collect(t30_state_t* t30);

  FarTerminalSetup m_setup;
  fax_state_t* m_fax = nullptr;
  FarResult m_result;
};

}  // namespace vexo::linesim
