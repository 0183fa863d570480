// The cover page template language: a template line is split into items, each
// a tag in angle brackets ("<GROUP 20,30,100,0>", "<SENDNAME>") or literal text,
// and a tag's keyword and arguments are decoded. Only splitting and decoding
// live here, so that CoverPage executes items and the fuzz target and tests can
// reach the parser directly.
#pragma once

#include <array>
#include <cstdint>
#include <string_view>
#include <vector>

namespace vexo {

// The keywords, in the order they are matched.
enum class CoverKeyword {
  Font,
  Unit,
  Logo,
  Group,
  EndGroup,
  Sep,
  SendName,
  SendFax,
  Phone1,
  Phone2,
  Email,
  RcvName,
  RcvFax,
  DateTime,
  Subject,
  Note,
};

enum class CoverArgs { None, Word, Numbers };

struct CoverKeywordRow {
  const char* text;
  CoverKeyword keyword;
  CoverArgs args;
};

constexpr std::array<CoverKeywordRow, 16> kCoverKeywords{{
    {"FONT", CoverKeyword::Font, CoverArgs::Numbers},
    {"UNIT", CoverKeyword::Unit, CoverArgs::Word},
    {"LOGO", CoverKeyword::Logo, CoverArgs::Numbers},
    {"GROUP", CoverKeyword::Group, CoverArgs::Numbers},
    {"\\GROUP", CoverKeyword::EndGroup, CoverArgs::None},
    {"SEP", CoverKeyword::Sep, CoverArgs::Numbers},
    {"SENDNAME", CoverKeyword::SendName, CoverArgs::None},
    {"SENDFAX", CoverKeyword::SendFax, CoverArgs::None},
    {"PHONE1", CoverKeyword::Phone1, CoverArgs::None},
    {"PHONE2", CoverKeyword::Phone2, CoverArgs::None},
    {"EMAIL", CoverKeyword::Email, CoverArgs::None},
    {"RCVNAME", CoverKeyword::RcvName, CoverArgs::None},
    {"RCVFAX", CoverKeyword::RcvFax, CoverArgs::None},
    {"DATETIME", CoverKeyword::DateTime, CoverArgs::None},
    {"SUBJECT", CoverKeyword::Subject, CoverArgs::None},
    {"NOTE", CoverKeyword::Note, CoverArgs::None},
}};

constexpr std::size_t kCoverMaxArgs = 8;
// A number's digits beyond this value are not added (a length this large lies
// far outside any page anyway).
constexpr std::uint32_t kCoverMaxNumber = 99999999;
// The longest template line, line end included.
constexpr std::size_t kCoverMaxLineBytes = 511;

struct CoverItem {
  bool isTag = false;
  CoverKeyword keyword = CoverKeyword::Font;        // tags only
  std::string_view text;                            // literal text, or a tag's UNIT word
  std::array<std::uint32_t, kCoverMaxArgs> args{};  // missing numbers are 0
  std::size_t argCount = 0;                         // numbers stored

  bool IsTag(CoverKeyword k) const { return isTag && keyword == k; }
};

// Splits one template line (without its line end) into items. A tag starts at
// "<" and ends at the next ">"; blanks and tabs after "<" are skipped and the
// keyword must follow, ended by ">", a blank or a tab. An unknown keyword, or a
// "<" without ">", is literal text, brackets included, up to the next "<".
// The items' texts point into line.
std::vector<CoverItem> SplitCoverLine(std::string_view line);

// Decodes the numbers of a tag's argument text (what lies between the keyword
// and ">"): numbers are separated by commas, blanks or tabs; characters after a
// number's digits are ignored up to the separator; a number that is 0 at its
// separator is not stored, the last one before ">" always is.
void ParseCoverNumbers(std::string_view args, CoverItem& item);

}  // namespace vexo
