// The far fax machine as a Class 2 or Class 2.0 modem sees it: not audio but
// T.30 outcomes. It decodes each page the program sends (Modified Huffman,
// rows counted, RTC required) into a TIFF file and answers MCF or RTN, and for
// a call in it codes the pages of a TIFF file. ServiceClassModem owns one per call.
#pragma once

#include <spandsp.h>

#include <cstdint>
#include <string>
#include <vector>

namespace vexo::linesim {

// The result of one page the far station received.
struct PageVerdict {
  bool accepted = false;  // MCF; otherwise RTN
  int rows = 0;
  int badRows = 0;
};

class FarStation {
 public:
  FarStation() = default;
  ~FarStation();
  FarStation(const FarStation&) = delete;
  FarStation& operator=(const FarStation&) = delete;

  // Receiving: pages go into file (a new TIFF), coded at the given vertical
  // resolution (rows per metre). False with error set when it cannot be made.
  bool BeginReceive(const std::string& file, int yResolution, std::string& error);
  // Page data in line order (first bit on the line in bit 0 of each byte).
  void PageData(const std::uint8_t* data, std::size_t size);
  PageVerdict EndPage();
  // Closes the received file, so that its pages are complete on disk.
  void Finish() { CloseReceive(); }
  int pagesReceived() const { return m_pagesReceived; }

  // Sending (a call in): every page of file coded Modified Huffman, in line
  // order. False with error set when the file cannot be read.
  bool LoadCallIn(const std::string& file, std::string& error);
  const std::vector<std::string>& callInPages() const { return m_callInPages; }
  bool callInFine() const { return m_callInFine; }

 private:
  void CloseReceive();

  t4_rx_state_t* m_rx = nullptr;
  bool m_pageOpen = false;
  bool m_rtcSeen = false;
  int m_pagesReceived = 0;
  std::vector<std::string> m_callInPages;
  bool m_callInFine = false;
};

}  // namespace vexo::linesim
