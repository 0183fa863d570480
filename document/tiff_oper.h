// TiffOper reads and writes the pages of a fax TIFF file: the receive sessions
// write each received page as one raw strip (MH, MR or MMR), the send sessions and the
// file check read a file page by page, checking each page's tags and handing out
// its coded bytes in chunks (optionally dropping every second line, so that a
// fine page goes out at normal resolution). The page header unit hooks in
// through SetPageHeader: the bytes it hands over go out ahead of the page data.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "document/tiff_lib.h"
#include "document/tiff_line_drop.h"

namespace vexo {

// Page flags, in FaxPageInfo and as the flags argument of SetPageTags (only
// PAGE_G4, PAGE_FINE, PAGE_2D and PAGE_LSB_FIRST mean something there).
constexpr std::uint32_t PAGE_G4 = 1;
constexpr std::uint32_t PAGE_FINE = 2;
constexpr std::uint32_t PAGE_2D = 4;
constexpr std::uint32_t PAGE_LSB_FIRST = 8;
constexpr std::uint32_t PAGE_MIN_IS_BLACK = 16;
constexpr std::uint32_t PAGE_RES_CM = 32;
// The page is longer than A4 (LongerThanA4): the far end needs B4 or unlimited length.
constexpr std::uint32_t PAGE_LONG = 64;

// The page being sent: always 1728 wide after a successful ReadTags.
struct FaxPageInfo {
  std::uint32_t width = 0;
  std::uint32_t length = 0;
  std::uint32_t flags = 0;
};

// The tag values ReadTags reads from the current directory (0 when absent).
struct FaxPageTags {
  std::uint32_t newSubfileType = 0;
  std::uint32_t imageWidth = 0;
  std::uint32_t imageLength = 0;
  std::uint16_t bitsPerSample = 0;
  std::uint16_t compression = 0;
  std::uint16_t photometric = 0;
  std::uint16_t fillOrder = 0;
  std::uint16_t orientation = 0;
  std::uint16_t samplesPerPixel = 0;
  std::uint32_t rowsPerStrip = 0;
  Rational xResolution;
  Rational yResolution;
  std::uint16_t planarConfig = 0;
  std::uint32_t group3Options = 0;
  std::uint16_t resolutionUnit = 0;
  std::uint16_t pageIndex = 0;
  std::uint16_t pageTotal = 0;
  std::string software;
  std::uint64_t stripOffset = 0;
  std::uint64_t stripByteCount = 0;
};

// The longest chunk ReadFAXData hands out.
constexpr std::size_t kFaxDataChunk = 4096;

// How OpenWriteTiff creates its file: received and generated fax files are
// created exclusively, so that an existing (perhaps filed) fax is never
// overwritten; Replace truncates an existing file.
enum class CreateMode { Exclusive, Replace };

class TiffOper {
 public:
  TiffOper();
  ~TiffOper();
  TiffOper(const TiffOper&) = delete;
  TiffOper& operator=(const TiffOper&) = delete;

  // Reports go to the process-wide error pool. readFlag true allows the page
  // header (the send side passes true, the receive side and file checks false).
  void SetErrorPool(bool readFlag);
  bool HeaderAllowed() const { return m_readFlag; }

  // Write side: OpenWriteTiff, then per page SetPageTags, WriteFaxData..., and
  // EndPage or EndCutPage; then CloseWriteTiff. All return 1 on success, 0 on
  // failure. A page's data is held until the page ends and only then written
  // with its tags, so the file never holds a page without its data or its
  // true length. After a page could not be written (a full disk) nothing more
  // is taken: the file keeps the pages before it, and CloseWriteTiff returns 0.
  int OpenWriteTiff(const std::string& fileName, CreateMode mode = CreateMode::Exclusive);
  // length is not stored: the page's length is the one it ends with.
  int SetPageTags(std::uint32_t width, std::uint32_t length, std::uint32_t flags);
  int WriteFaxData(const std::uint8_t* data, std::size_t count);
  // A page received whole, of rows rows (0: counted as for a cut page).
  int EndPage(std::uint32_t rows);
  // A page the call cut off (dropped, cancelled, data that never ended or
  // ended without its RTC; stored most significant bit first): its data is
  // decoded and the page kept with the rows that arrived whole as its length.
  // A page without one whole row, or whose data does not decode, is left out
  // (1, not counted).
  int EndCutPage();
  // Ends a page still open with EndCutPage.
  int CloseWriteTiff();

  // Read side. OpenReadTiffHeader: 1, or 0 (also for a file without the "VEXO"
  // marker). GetTotalPageNum: the page count. MovePage(0): the page count;
  // MovePage(delta): delta, or -1 when there is no such page (the current one
  // stays). ReadTags: 1 when the page is loaded and may be sent, -1 otherwise.
  // ReadFAXData: bytes delivered (at most min(size, kFaxDataChunk)), 0 at the end
  // of the page, -1 on error. NextPage: 1 when a further page was loaded, else 0.
  int OpenReadTiffHeader(const std::string& fileName);
  int GetTotalPageNum();
  int MovePage(int delta);
  int ReadTags();
  int ReadFAXData(std::uint8_t* buffer, std::size_t size, bool dropAlternateLines);
  int NextPage();
  void CloseReadTiff();

  const FaxPageInfo& PageInfo() const { return m_pageInfo; }
  const FaxPageTags& Tags() const { return m_tags; }
  const std::string& FileName() const { return m_fileName; }
  // Pages written so far (write side: the pages the file holds) or
  // directories loaded by ReadTags (read side).
  std::uint32_t PageCounter() const { return m_pageCounter; }
  // Index (from 0) of the directory the read side is on.
  int CurrentDirectory() const;

  // Page header hook. After ReadTags and before the first ReadFAXData of a page,
  // the page header unit hands its coded rows here; ReadFAXData delivers them
  // unchanged ahead of the page's data. ReadTags drops any header of the
  // previous page. A header is taken only when HeaderAllowed().
  void SetPageHeader(std::vector<std::uint8_t> coded);
  bool PageHeaderReady() const { return m_headerReady; }
  std::size_t PageHeaderSize() const { return m_header.size(); }
  const std::vector<std::uint8_t>& PageHeaderBytes() const { return m_header; }

  // The loaded page's whole strip as stored (ReadFAXData's position is not
  // touched); nullopt after a report.
  std::optional<std::vector<std::uint8_t>> ReadPageStrip();

  // State the page header unit keeps for the life of this object (coding
  // resources, texts fixed at the first page). TiffOper only owns it.
  class HeaderState {
   public:
    virtual ~HeaderState() = default;
  };
  HeaderState* PageHeaderState() const { return m_headerState.get(); }
  void SetPageHeaderState(std::unique_ptr<HeaderState> state) { m_headerState = std::move(state); }

 private:
  // The page being written: what SetPageTags was given and the data so far.
  struct OpenPage {
    std::uint32_t width = 0;
    std::uint32_t flags = 0;
    std::vector<std::uint8_t> data;
  };

  void CloseAll();
  bool SetTags(const OpenPage& page, std::uint32_t rows);
  // Writes the open page with rows rows as the next directory; 0 after a report.
  int WritePage(std::uint32_t rows);
  int ReadTagsFail(const char* reason);
  void LoadTagValues();
  int ReadPlain(std::uint8_t* buffer, std::size_t size);
  int ReadDropping(std::uint8_t* buffer, std::size_t size);
  // Reads count bytes of strip data at offset; false after a report.
  bool ReadStripBytes(std::uint8_t* buffer, std::size_t count, std::uint64_t offset);

  bool m_readFlag = false;
  std::string m_fileName;
  std::unique_ptr<TiffFile> m_tiff;
  std::uint32_t m_pageCounter = 0;
  std::optional<OpenPage> m_page;
  bool m_writeFailed = false;

  FaxPageInfo m_pageInfo;
  FaxPageTags m_tags;
  std::uint64_t m_readPos = 0;
  std::uint64_t m_remaining = 0;
  LineDropper m_dropper;

  std::vector<std::uint8_t> m_header;
  std::size_t m_headerSent = 0;
  bool m_headerReady = false;
  bool m_headerDelivered = false;
  std::unique_ptr<HeaderState> m_headerState;
};

}  // namespace vexo
