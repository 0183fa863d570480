// The geometry of a fax page on the line: the row densities T.4 declares (fine
// 7.7 lines/mm, normal 3.85 lines/mm, tagged 196 and 98 rows per inch as other
// fax software does), the 1728 pixels across 215 mm (204 per inch), and the
// paper sizes a page is laid out for with their row counts at a density.
// Producers draw at these densities so that a page is as long at the far end
// as the paper it was made for; readers take the density from the file's tags.
#pragma once

#include <cstdint>
#include <optional>
#include <string_view>

namespace vexo {

// Rows per inch of a fine and a normal page (YResolution).
constexpr std::uint32_t kFineRowsPerInch = 196;
constexpr std::uint32_t kNormalRowsPerInch = 98;
// Pixels per inch across a page (XResolution): 1728 pixels over 215 mm.
constexpr std::uint32_t kFaxXResolution = 204;
// Pixels across a standard fax page.
constexpr std::uint32_t kFaxPageWidth = 1728;

// The paper a page is laid out for; values are those of the PaperSize setting.
enum class PaperSize : std::uint32_t { kA4 = 0, kLetter = 1, kLegal = 2 };

// A paper's size in tenths of a millimetre.
struct PaperDimensions {
  std::uint32_t width = 0;
  std::uint32_t height = 0;
};

constexpr PaperDimensions PaperDimensionsOf(PaperSize paper) {
  switch (paper) {
    case PaperSize::kLetter:
      return {2159, 2794};  // 8.5 x 11 in
    case PaperSize::kLegal:
      return {2159, 3556};  // 8.5 x 14 in
    case PaperSize::kA4:
      break;
  }
  return {2100, 2970};
}

// A length in tenths of a millimetre as rows at rowsPerInch, rounded to nearest.
constexpr std::uint32_t RowsForLength(std::uint32_t tenthsOfMm, std::uint32_t rowsPerInch) {
  return static_cast<std::uint32_t>((std::uint64_t{tenthsOfMm} * rowsPerInch + 127) / 254);
}

// Rows of a whole page of paper at rowsPerInch: A4 2292 fine / 1146 normal,
// Letter 2156 / 1078, Legal 2744 / 1372.
constexpr std::uint32_t PaperRows(PaperSize paper, std::uint32_t rowsPerInch) {
  return RowsForLength(PaperDimensionsOf(paper).height, rowsPerInch);
}

// A page longer than this (A4's 297 mm and 5 % of slack, in tenths of a
// millimetre) needs more than A4 recording length at the far end (Legal's
// 356 mm needs B4 or unlimited); A4 and Letter pages, header included, fit.
constexpr std::uint32_t kLongestA4PageTenthMm = 3120;

// True when rows at rowsPerInch are longer than kLongestA4PageTenthMm.
constexpr bool LongerThanA4(std::uint32_t rows, std::uint32_t rowsPerInch) {
  return rowsPerInch != 0 &&
         std::uint64_t{rows} * 254 > std::uint64_t{kLongestA4PageTenthMm} * rowsPerInch;
}

// The setting value / command line name of a paper ("a4", "letter", "legal").
constexpr std::optional<PaperSize> PaperSizeFromValue(std::uint32_t value) {
  if (value > static_cast<std::uint32_t>(PaperSize::kLegal)) return std::nullopt;
  return static_cast<PaperSize>(value);
}

constexpr std::optional<PaperSize> PaperSizeFromName(std::string_view name) {
  if (name == "a4" || name == "A4") return PaperSize::kA4;
  if (name == "letter" || name == "Letter") return PaperSize::kLetter;
  if (name == "legal" || name == "Legal") return PaperSize::kLegal;
  return std::nullopt;
}

static_assert(PaperRows(PaperSize::kA4, kFineRowsPerInch) == 2292);
static_assert(PaperRows(PaperSize::kA4, kNormalRowsPerInch) == 1146);
static_assert(PaperRows(PaperSize::kLetter, kFineRowsPerInch) == 2156);
static_assert(PaperRows(PaperSize::kLetter, kNormalRowsPerInch) == 1078);
static_assert(PaperRows(PaperSize::kLegal, kFineRowsPerInch) == 2744);
static_assert(PaperRows(PaperSize::kLegal, kNormalRowsPerInch) == 1372);

}  // namespace vexo
