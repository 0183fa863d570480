// The three codings a fax page travels and is stored in: MH (T.4 one-
// dimensional), MR (T.4 two-dimensional) and MMR (T.6). Pages are decoded to
// a bitmap and coded again with libtiff's CCITT codecs, so that a page stored
// in one coding can go out in another (a far end without ECM cannot take
// MMR), the page header and the page form one stream in the coding of the
// line, and a received page can be checked before it is filed.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <vector>

namespace vexo {

class TiffOper;

enum class FaxCoding : std::uint8_t { kMh = 0, kMr = 1, kMmr = 2 };

// The coding of a page from its flags (PAGE_G4, PAGE_2D) and back.
FaxCoding CodingOfPageFlags(std::uint32_t flags);
std::uint32_t PageFlagsOfCoding(FaxCoding coding);
// "MH", "MR" or "MMR".
const char* CodingName(FaxCoding coding);

// A page's pixels: rows of width bits, 1 = black, packed most significant bit first.
struct FaxBitmap {
  std::uint32_t width = 0;
  std::uint32_t rows = 0;
  std::vector<std::uint8_t> bits;  // rows * Stride() bytes
  std::size_t Stride() const { return (width + 7) / 8; }
};

// A coded page read back.
struct DecodedFaxPage {
  FaxBitmap bitmap;
  std::uint32_t badRows = 0;        // rows that did not decode (each replaced by the row before)
  std::uint32_t longestBadRun = 0;  // bad rows in a row, at most
  bool complete = true;             // false: the data ended inside a row, or MMR broke off
};

// Decodes a page: bytes most significant bit first; MH and MR with an EOL
// ahead of every row (fill allowed, RTC optional), MMR from its first code
// (EOFB optional). fine: the page has fine resolution (MR rows carry their
// own tag bit, so any K decodes). nullopt when not one row decodes.
std::optional<DecodedFaxPage> DecodeFaxPage(std::span<const std::uint8_t> coded, FaxCoding coding,
                                            std::uint32_t width, bool fine);

// The rows of a page whose data may stop anywhere (a call cut off) that
// arrived whole: a row the data ends inside is not one. 0 when not one row
// decodes.
std::uint32_t WholeRows(std::span<const std::uint8_t> coded, FaxCoding coding, std::uint32_t width,
                        bool fine);

// Codes bitmap, most significant bit first: MH with an EOL ahead of every
// row; MR with an EOL and its tag bit ahead of every row, a 1-D row followed
// by up to K-1 2-D rows (K = 2 at normal, 4 at fine resolution); MMR without
// EOLs. No fill. withEnd adds the RTC (six EOLs, for MR each with tag bit 1)
// or, for MMR, the EOFB.
std::vector<std::uint8_t> EncodeFaxPage(const FaxBitmap& bitmap, FaxCoding coding, bool fine,
                                        bool withEnd);

// The page tiff has loaded and the header the page header unit handed it, as
// one stream in coding for the line (no fill): the header's rows, then the
// page's rows, every second page row dropped when halve (a fine page sent at
// normal resolution). fine: the resolution as sent. withEnd as for
// EncodeFaxPage. nullopt after a report under "TiffOper".
std::optional<std::vector<std::uint8_t>> CodePageForLine(TiffOper& tiff, FaxCoding coding,
                                                         bool halve, bool fine,
                                                         bool withEnd = false);

}  // namespace vexo
