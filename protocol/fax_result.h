// The record of one fax call (FaxResult) and the resume position of a send,
// shared by the job, the fax kernel and the three service-class sessions. The
// record keeps the layout of twenty 32-bit fields; the resume position packs a
// file index and a page index into one 32-bit value.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "document/fax_coding.h"

namespace vexo {

// Longest remote station identifier kept, in characters.
constexpr std::size_t kRemoteIdChars = 20;
// Room for it in the record: sixteen 32-bit fields of UTF-16.
constexpr std::size_t kRemoteIdFieldChars = 32;

// Resolution values of the record's field 18.
constexpr std::uint32_t kResultResolutionNormal = 0;
constexpr std::uint32_t kResultResolutionFine = 2;

// What a session entry returns. A send whose pages all went but some of them
// were refused by the far end is a partial success.
constexpr int kSessionFailed = 0;
constexpr int kSessionDone = 1;
constexpr int kSessionPartly = 2;

struct FaxResult {
  std::uint32_t pagesTransferred = 0;           // field 0: pages sent or received
  std::uint32_t totalPages = 0;                 // field 1: pages of the first file sent
  char16_t remoteId[kRemoteIdFieldChars] = {};  // fields 2 to 17: NUL-terminated
  std::uint32_t resolution = 0;                 // field 18: flags or resolution
  std::uint32_t jobResult = 0;                  // field 19: the job's result

  void Clear() { *this = FaxResult{}; }
  // Stores at most kRemoteIdChars characters.
  void SetRemoteId(std::u16string_view id) {
    std::fill(std::begin(remoteId), std::end(remoteId), u'\0');
    std::copy_n(id.begin(), std::min(id.size(), kRemoteIdChars), remoteId);
  }
  std::u16string RemoteId() const {
    std::size_t n = 0;
    while (n < kRemoteIdChars && remoteId[n] != 0) ++n;
    return std::u16string(remoteId, n);
  }
};
static_assert(sizeof(FaxResult) == 20 * sizeof(std::uint32_t));

// The resume position: high 16 bits = file index + 1, low 16 bits = page index
// within that file + 1; 0 = from the beginning.
class ResumePosition {
 public:
  constexpr ResumePosition() = default;
  constexpr explicit ResumePosition(std::uint32_t raw) : m_raw(raw) {}
  static constexpr ResumePosition At(std::uint32_t fileIndex, std::uint32_t pageIndex) {
    return ResumePosition(((fileIndex + 1) << 16) | ((pageIndex + 1) & 0xFFFF));
  }

  constexpr std::uint32_t Raw() const { return m_raw; }
  constexpr bool FromStart() const { return m_raw == 0; }
  // Indexes from 0; a half that is 0 counts as index 0.
  constexpr std::uint32_t FileIndex() const {
    const std::uint32_t high = m_raw >> 16;
    return high ? high - 1 : 0;
  }
  constexpr std::uint32_t PageIndex() const {
    const std::uint32_t low = m_raw & 0xFFFF;
    return low ? low - 1 : 0;
  }

 private:
  std::uint32_t m_raw = 0;
};

// What the capability exchange settled for the page data: error correction
// mode with its frame size, and the coding of the pages on the line.
struct LinkCoding {
  bool ecm = false;
  FaxCoding coding = FaxCoding::kMh;
  std::size_t frameBytes = 256;  // octets of image data per ECM frame (256 or 64)
};

// How the call's page data travelled, for the status line, the record and the
// vexo command: "ECM, MMR", "MR", "MH".
inline std::string LinkCodingText(const LinkCoding& link) {
  return std::string(link.ecm ? "ECM, " : "") + CodingName(link.coding);
}

}  // namespace vexo
