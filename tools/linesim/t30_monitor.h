// A passive listener on both directions of the line that decodes the T.30
// control frames (V.21 channel 2 HDLC) as a line tap would: the station
// identifiers each side sent, the session chosen by DCS, and the pages the
// receiver confirmed. It fills the call report for every kind of far end.
#pragma once

#include <spandsp.h>

#include <cstdint>
#include <span>
#include <string>

namespace vexo::linesim {

// Which way a block of audio travels.
enum class Direction { kFromModem = 0, kFromFar = 1 };

struct T30Observations {
  std::string identFromModem;  // CSI or TSI the modem's program sent
  std::string identFromFar;    // CSI or TSI the far end sent
  int bitRate = 0;             // from the last DCS
  std::string resolution;      // "normal" or "fine", from the last DCS
  bool ecm = false;            // the last DCS chose error correction mode
  std::string coding;          // "T.4 1-D", "T.4 2-D" or "T.6", from the last DCS
  int pagesConfirmed = 0;      // MCF answers to post-page messages
  bool disconnected = false;   // a DCN ended the session
  // Audio since the latest CFR or MCF, after which the next page's image data
  // comes; -1 before either.
  std::int64_t samplesSincePageGo = -1;
};

class T30Monitor {
 public:
  T30Monitor();
  ~T30Monitor();
  T30Monitor(const T30Monitor&) = delete;
  T30Monitor& operator=(const T30Monitor&) = delete;

  // Listens to one block travelling in the given direction.
  void Listen(Direction direction, std::span<const std::int16_t> block);
  const T30Observations& observations() const { return m_seen; }
  // Forgets everything, for the next call.
  void Reset();

  // Handles one received frame (address, control, FCF, FIF); public for tests.
  void OnFrame(Direction direction, std::span<const std::uint8_t> frame);

 private:
  struct Receiver {
    T30Monitor* monitor = nullptr;
    Direction direction = Direction::kFromModem;
    hdlc_rx_state_t* hdlc = nullptr;
    fsk_rx_state_t* fsk = nullptr;
  };
  static void PutBit(void* receiver, int bit);
  static void OnHdlc(void* receiver, const std::uint8_t* frame, int length, int ok);
  void Start();
  void Stop();

  Receiver m_receivers[2];
  T30Observations m_seen;
  bool m_postPagePending[2] = {false, false};  // per direction that sent MPS/EOP/EOM
};

}  // namespace vexo::linesim
