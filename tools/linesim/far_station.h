// The far fax machine as a Class 2 or Class 2.0 modem sees it: not audio but
// T.30 outcomes. It decodes each page the program sends (Modified Huffman, rows
// counted) and answers MCF, keeping the page in a TIFF file, or RTN for a page
// it cannot decode; for a call in it codes the pages of a TIFF file.
// ServiceClassModem owns one per modem.
#pragma once

#include <spandsp.h>
#include <tiffio.h>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace vexo::linesim {

// The result of one page the far station received.
struct PageVerdict {
  bool accepted = false;  // MCF; otherwise RTN
  int rows = 0;
  int badRows = 0;
};

// One page of a call in, coded for the line.
struct CodedPage {
  std::string data;  // coded page in line order, RTC (T.6: EOFB) at the end
  int rows = 0;
};

class FarStation {
 public:
  FarStation() = default;
  ~FarStation();
  FarStation(const FarStation&) = delete;
  FarStation& operator=(const FarStation&) = delete;

  // Receiving: accepted pages go into file (a new TIFF), at the given
  // vertical resolution (rows per metre), page data coded as encoding (a
  // T4_COMPRESSION_* value). False with error set on failure.
  bool BeginReceive(const std::string& file, int yResolution, int encoding, std::string& error);
  // Page data in line order (first bit on the line in bit 0 of each byte).
  void PageData(const std::uint8_t* data, std::size_t size);
  // Ends the page as the modem does, with RTC, and judges it; refuse turns
  // a good page down all the same.
  PageVerdict EndPage(bool refuse = false);
  // Closes the received file, so that its pages are complete on disk.
  void Finish();
  int pagesReceived() const { return m_pagesReceived; }

  // Sending (a call in): every page of file coded as encoding (a
  // T4_COMPRESSION_* value), in line order. False with error set when the
  // file cannot be read.
  bool LoadCallIn(const std::string& file, int encoding, std::string& error);
  const std::vector<CodedPage>& callInPages() const { return m_callInPages; }
  bool callInFine() const { return m_callInFine; }

 private:
  struct TiffCloser {
    void operator()(TIFF* tiff) const { TIFFClose(tiff); }
  };
  using TiffFile = std::unique_ptr<TIFF, TiffCloser>;

  void StartPage();
  void DropPage();
  bool AppendPage(std::string& error);
  static bool FirstPageFine(const std::string& file);

  std::string m_file;
  std::string m_pageFile;  // the page being decoded, alone in its own TIFF
  int m_yResolution = 0;
  int m_encoding = T4_COMPRESSION_ITU_T4_1D;
  TiffFile m_out;
  t4_rx_state_t* m_rx = nullptr;
  bool m_rtcSeen = false;
  int m_pagesReceived = 0;
  std::vector<CodedPage> m_callInPages;
  bool m_callInFine = false;
};

}  // namespace vexo::linesim
