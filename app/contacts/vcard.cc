#include "app/contacts/vcard.h"

#include <iconv.h>

#include <cerrno>

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <optional>
#include <system_error>

#include "base/error_pool.h"
#include "platform/text.h"

namespace vexo {
namespace {

bool StartsWithNoCase(std::string_view text, std::string_view prefix) {
  return text.size() >= prefix.size() && AsciiLower(text.substr(0, prefix.size())) == prefix;
}

// Replaces every byte sequence that is not UTF-8 with U+FFFD, so that a bad
// file never puts broken text into the dialogs.
std::string ValidUtf8(std::string_view in) {
  std::string out;
  out.reserve(in.size());
  std::size_t i = 0;
  while (i < in.size()) {
    const auto c = static_cast<unsigned char>(in[i]);
    std::size_t len = 0;
    unsigned min = 0;
    if (c < 0x80) {
      out += static_cast<char>(c);
      ++i;
      continue;
    }
    if ((c & 0xE0) == 0xC0) {
      len = 2;
      min = 0x80;
    } else if ((c & 0xF0) == 0xE0) {
      len = 3;
      min = 0x800;
    } else if ((c & 0xF8) == 0xF0) {
      len = 4;
      min = 0x10000;
    }
    bool ok = len != 0 && i + len <= in.size();
    unsigned cp = len == 2 ? (c & 0x1F) : len == 3 ? (c & 0x0F) : (c & 0x07);
    for (std::size_t k = 1; ok && k < len; ++k) {
      const auto cc = static_cast<unsigned char>(in[i + k]);
      ok = (cc & 0xC0) == 0x80;
      cp = (cp << 6) | (cc & 0x3F);
    }
    ok = ok && cp >= min && cp <= 0x10FFFF && !(cp >= 0xD800 && cp <= 0xDFFF);
    if (ok) {
      out.append(in.substr(i, len));
      i += len;
    } else {
      out += "\xEF\xBF\xBD";
      ++i;
    }
  }
  return out;
}

// Converts text in the named character set to UTF-8; unknown sets and
// unconvertible bytes leave the text to ValidUtf8.
std::string ToUtf8(std::string_view text, const std::string& charset) {
  if (charset.empty() || AsciiLower(charset) == "utf-8" || AsciiLower(charset) == "us-ascii")
    return ValidUtf8(text);
  iconv_t cd = iconv_open("UTF-8", charset.c_str());
  if (cd == reinterpret_cast<iconv_t>(-1)) return ValidUtf8(text);
  std::string out;
  std::string in(text);
  char* inp = in.data();
  std::size_t inleft = in.size();
  char buf[1024];
  bool ok = true;
  while (inleft > 0) {
    char* outp = buf;
    std::size_t outleft = sizeof buf;
    const std::size_t r = iconv(cd, &inp, &inleft, &outp, &outleft);
    out.append(buf, static_cast<std::size_t>(outp - buf));
    if (r == static_cast<std::size_t>(-1) && errno != E2BIG) {
      ok = false;
      break;
    }
  }
  iconv_close(cd);
  return ok ? ValidUtf8(out) : ValidUtf8(text);
}

int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return -1;
}

std::string DecodeQuotedPrintable(std::string_view in) {
  std::string out;
  for (std::size_t i = 0; i < in.size(); ++i) {
    if (in[i] == '=' && i + 2 < in.size()) {
      const int hi = HexValue(in[i + 1]);
      const int lo = HexValue(in[i + 2]);
      if (hi >= 0 && lo >= 0) {
        out += static_cast<char>(hi * 16 + lo);
        i += 2;
        continue;
      }
    }
    out += in[i];
  }
  return out;
}

// Splits on an unescaped separator and resolves the escapes \, \; \: \\ \n.
std::vector<std::string> SplitEscaped(std::string_view value, char separator) {
  std::vector<std::string> parts(1);
  for (std::size_t i = 0; i < value.size(); ++i) {
    const char c = value[i];
    if (c == '\\' && i + 1 < value.size()) {
      const char next = value[++i];
      parts.back() += (next == 'n' || next == 'N') ? '\n' : next;
    } else if (c == separator) {
      parts.emplace_back();
    } else {
      parts.back() += c;
    }
  }
  return parts;
}

std::string Trim(std::string_view text) {
  const auto first = text.find_first_not_of(" \t");
  if (first == std::string_view::npos) return {};
  const auto last = text.find_last_not_of(" \t");
  return std::string(text.substr(first, last - first + 1));
}

struct Property {
  std::string group;               // lower case, "" when none ("item1.TEL")
  std::string name;                // upper case, group removed
  std::vector<std::string> types;  // lower case
  bool quotedPrintable = false;
  std::string charset;
  std::string rawValue;
};

// Parses "group.NAME;PARAM=a,b;BARE:value"; nullopt when there is no colon.
std::optional<Property> ParseLine(std::string_view line) {
  bool quoted = false;
  std::size_t colon = std::string_view::npos;
  for (std::size_t i = 0; i < line.size(); ++i) {
    if (line[i] == '"')
      quoted = !quoted;
    else if (line[i] == ':' && !quoted) {
      colon = i;
      break;
    }
  }
  if (colon == std::string_view::npos) return std::nullopt;
  Property p;
  p.rawValue = std::string(line.substr(colon + 1));
  std::vector<std::string> fields(1);
  quoted = false;
  for (char c : line.substr(0, colon)) {
    if (c == '"')
      quoted = !quoted;
    else if (c == ';' && !quoted)
      fields.emplace_back();
    else
      fields.back() += c;
  }
  std::string name = fields.front();
  if (const auto dot = name.rfind('.'); dot != std::string::npos) {
    p.group = AsciiLower(Trim(name.substr(0, dot)));
    name = name.substr(dot + 1);
  }
  for (char& c : name) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  p.name = Trim(name);
  for (std::size_t f = 1; f < fields.size(); ++f) {
    const std::string& field = fields[f];
    const auto eq = field.find('=');
    const std::string key = AsciiLower(Trim(field.substr(0, eq)));
    const std::string value = eq == std::string::npos ? std::string() : field.substr(eq + 1);
    if (eq == std::string::npos) {
      if (key == "quoted-printable")
        p.quotedPrintable = true;
      else if (!key.empty())
        p.types.push_back(key);  // vCard 2.1 bare type
    } else if (key == "type") {
      for (const std::string& t : SplitEscaped(value, ',')) {
        const std::string type = AsciiLower(Trim(t));
        if (!type.empty()) p.types.push_back(type);
      }
    } else if (key == "encoding") {
      p.quotedPrintable = AsciiLower(Trim(value)) == "quoted-printable";
    } else if (key == "charset") {
      p.charset = Trim(value);
    } else if (key == "label") {
      p.types.push_back(AsciiLower(Trim(value)));
    }
  }
  return p;
}

bool Has(const std::vector<std::string>& types, std::string_view type) {
  return std::find(types.begin(), types.end(), type) != types.end();
}

bool HasPart(const std::vector<std::string>& types, std::string_view part) {
  return std::any_of(types.begin(), types.end(),
                     [&](const std::string& t) { return t.find(part) != std::string::npos; });
}

// A TEL line waiting for the end of its card: address books that group lines
// ("item3.TEL" with "item3.X-ABLabel:assistant") may give the label after the
// number.
struct PendingTel {
  std::string group;
  std::vector<std::string> types;
  std::string number;
};

// The card being read, before its names and numbers are settled.
struct CardDraft {
  std::string uid;
  std::string fn;
  std::string family;
  std::string given;
  std::string org;
  std::string email;
  std::vector<PendingTel> tels;
  std::vector<std::pair<std::string, std::string>> labels;  // group, lower-case label
};

std::string DecodedText(const Property& p) {
  const std::string raw = p.quotedPrintable ? DecodeQuotedPrintable(p.rawValue) : p.rawValue;
  return ToUtf8(raw, p.charset);
}

std::string CleanNumber(std::string text) {
  text = Trim(text);
  if (StartsWithNoCase(text, "tel:")) text = text.substr(4);
  // A URI's parameters (";ext=12") are not dialled.
  if (const auto semi = text.find(';'); semi != std::string::npos) text = text.substr(0, semi);
  return Trim(text);
}

void Apply(const Property& p, CardDraft& card) {
  if (p.name == "FN") {
    card.fn = Trim(SplitEscaped(DecodedText(p), '\x01').front());
  } else if (p.name == "N") {
    const auto parts = SplitEscaped(DecodedText(p), ';');
    card.family = Trim(parts[0]);
    card.given = parts.size() > 1 ? Trim(parts[1]) : std::string();
  } else if (p.name == "ORG") {
    card.org = Trim(SplitEscaped(DecodedText(p), ';').front());
  } else if (p.name == "UID") {
    card.uid = Trim(DecodedText(p));
  } else if (p.name == "EMAIL" && card.email.empty()) {
    card.email = Trim(DecodedText(p));
  } else if (p.name == "TEL") {
    std::string number = CleanNumber(DecodedText(p));
    if (!number.empty()) card.tels.push_back({p.group, p.types, std::move(number)});
  } else if (p.name == "X-ABLABEL" && !p.group.empty()) {
    card.labels.emplace_back(p.group, AsciiLower(Trim(DecodedText(p))));
  }
}

// The types a free-text label means: Apple's "_$!<HomeFAX>!$_", "Work fax",
// "assistant". The label itself stays too, for the word match.
std::vector<std::string> LabelTypes(std::string label) {
  std::vector<std::string> types{label};
  for (std::string_view word : {"fax", "home", "work", "cell", "mobile", "car", "pager"})
    if (label.find(word) != std::string::npos) types.emplace_back(word);
  return types;
}

// Places the card's numbers into the nine kinds, in the order of the file,
// each with the types of its line and the label of its group.
std::array<std::string, kNumberKinds> PlaceNumbers(const CardDraft& card) {
  std::array<std::string, kNumberKinds> numbers;
  for (const PendingTel& tel : card.tels) {
    std::vector<std::string> types = tel.types;
    for (const auto& [group, label] : card.labels)
      if (!tel.group.empty() && group == tel.group)
        for (std::string& type : LabelTypes(label)) types.push_back(std::move(type));
    NumberKind kind;
    if (NumberKindForTypes(types, numbers, kind))
      numbers[static_cast<std::size_t>(kind)] = tel.number;
  }
  return numbers;
}

Contact Finish(CardDraft card, std::size_t ordinal) {
  Contact c;
  if (!card.family.empty() && !card.given.empty())
    c.fileAs = card.family + ", " + card.given;
  else if (!card.family.empty())
    c.fileAs = card.family;
  else if (!card.given.empty())
    c.fileAs = card.given;
  const bool fromName = !c.fileAs.empty();
  if (!fromName) c.fileAs = !card.org.empty() ? card.org : card.fn;
  c.name = !card.fn.empty() ? card.fn : fromName ? Trim(card.given + " " + card.family) : c.fileAs;
  c.second = fromName && !card.org.empty() ? card.org : card.email;
  c.numbers = PlaceNumbers(card);
  c.id = !card.uid.empty() ? card.uid : "#" + std::to_string(ordinal) + ":" + c.fileAs;
  return c;
}

// Splits the text into logical lines: a line that starts with a space or tab
// continues the one before (the space removed), and a quoted-printable value
// ending in "=" continues on the next line (the "=" removed).
struct LogicalLine {
  std::size_t number;
  std::string text;
};

std::vector<LogicalLine> Unfold(std::string_view text) {
  std::vector<LogicalLine> lines;
  std::size_t number = 0;
  std::size_t pos = 0;
  bool continueQp = false;
  while (pos < text.size()) {
    auto end = text.find('\n', pos);
    if (end == std::string_view::npos) end = text.size();
    std::string_view line = text.substr(pos, end - pos);
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    ++number;
    pos = end + 1;
    const bool folded = !line.empty() && (line[0] == ' ' || line[0] == '\t');
    if (!lines.empty() && continueQp)
      lines.back().text += line;
    else if (!lines.empty() && folded)
      lines.back().text += line.substr(1);
    else
      lines.push_back({number, std::string(line)});
    std::string& last = lines.back().text;
    const auto colon = last.find(':');
    continueQp = !last.empty() && last.back() == '=' && colon != std::string::npos &&
                 AsciiLower(last.substr(0, colon)).find("quoted-printable") != std::string::npos;
    if (continueQp) last.pop_back();
  }
  return lines;
}

// Byte order marks: UTF-8 is dropped, UTF-16 text is converted.
std::string Utf8Text(std::string_view bytes) {
  if (bytes.size() >= 3 && bytes.substr(0, 3) == "\xEF\xBB\xBF")
    return std::string(bytes.substr(3));
  if (bytes.size() >= 2 && (bytes.substr(0, 2) == "\xFF\xFE" || bytes.substr(0, 2) == "\xFE\xFF")) {
    const bool little = bytes[0] == '\xFF';
    std::string out = ToUtf8(bytes.substr(2), little ? "UTF-16LE" : "UTF-16BE");
    return out;
  }
  return std::string(bytes);
}

}  // namespace

bool Contact::HasNumbers() const {
  return std::any_of(numbers.begin(), numbers.end(),
                     [](const std::string& n) { return !n.empty(); });
}

bool NumberKindForTypes(const std::vector<std::string>& types,
                        const std::array<std::string, kNumberKinds>& taken, NumberKind& kind) {
  auto firstFree = [&](std::initializer_list<NumberKind> kinds) {
    for (NumberKind k : kinds) {
      if (taken[static_cast<std::size_t>(k)].empty()) {
        kind = k;
        return true;
      }
    }
    return false;
  };
  const bool work = Has(types, "work");
  const bool home = Has(types, "home");
  if (Has(types, "pager") || Has(types, "bbs")) return false;
  if (Has(types, "fax")) {
    return home ? firstFree({NumberKind::HomeFax})
                : firstFree({NumberKind::BusinessFax, NumberKind::HomeFax});
  }
  if (HasPart(types, "assistant")) return firstFree({NumberKind::AssistantTel});
  if (Has(types, "car")) return firstFree({NumberKind::CarTel});
  if (Has(types, "cell") || Has(types, "mobile") || Has(types, "iphone"))
    return firstFree({NumberKind::Mobile});
  if (work) return firstFree({NumberKind::BusinessTel1, NumberKind::BusinessTel2});
  if (home) return firstFree({NumberKind::HomeTel1, NumberKind::HomeTel2});
  return firstFree({NumberKind::BusinessTel1, NumberKind::BusinessTel2, NumberKind::HomeTel1,
                    NumberKind::HomeTel2, NumberKind::Mobile});
}

VCardReadResult ParseVCards(std::string_view bytes) {
  VCardReadResult result;
  auto note = [&](std::size_t line, std::string what) {
    if (result.damaged) return;
    result.damaged = true;
    result.problemLine = line;
    result.problem = std::move(what);
  };
  const std::string text = Utf8Text(bytes);
  std::optional<CardDraft> card;
  int nested = 0;  // cards inside a card (AGENT) are skipped
  std::size_t ordinal = 0;
  std::size_t lastLine = 0;
  bool lastWasAgent = false;  // a 2.1 AGENT card follows on the next line
  for (const LogicalLine& line : Unfold(text)) {
    lastLine = line.number;
    if (Trim(line.text).empty()) continue;
    const auto p = ParseLine(line.text);
    if (!p) {
      note(line.number, card ? "a line without a colon" : "text outside a card");
      continue;
    }
    const std::string value = AsciiLower(Trim(p->rawValue));
    if (p->name == "BEGIN" && value == "vcard") {
      if (card && (nested > 0 || lastWasAgent)) {
        ++nested;
      } else {
        if (card) {
          // A card that never ended: keep it and start the next one.
          note(line.number, "a card without END:VCARD");
          result.contacts.push_back(Finish(std::move(*card), ordinal++));
        }
        card.emplace();
      }
      lastWasAgent = false;
      continue;
    }
    lastWasAgent = p->name == "AGENT" && Trim(p->rawValue).empty();
    if (p->name == "END" && value == "vcard") {
      if (nested > 0)
        --nested;
      else if (card)
        result.contacts.push_back(Finish(std::move(*card), ordinal++)), card.reset();
      else
        note(line.number, "END:VCARD without BEGIN:VCARD");
      continue;
    }
    if (!card) {
      note(line.number, "text outside a card");
      continue;
    }
    if (nested == 0) Apply(*p, *card);
  }
  if (card) {
    note(lastLine, "the last card has no END:VCARD");
    result.contacts.push_back(Finish(std::move(*card), ordinal++));
  }
  return result;
}

void SortByFileAs(std::vector<Contact>& contacts) {
  std::stable_sort(contacts.begin(), contacts.end(), [](const Contact& a, const Contact& b) {
    return AsciiLower(a.fileAs) < AsciiLower(b.fileAs);
  });
}

std::filesystem::path ContactBook::DefaultPath() {
  if (const char* env = std::getenv("VEXO_CONTACTS"); env != nullptr && *env != '\0') return env;
  const char* home = std::getenv("HOME");
  return std::filesystem::path(home != nullptr ? home : ".") / "contacts.vcf";
}

bool ContactBook::Load(const std::filesystem::path& file) {
  m_contacts.clear();
  m_damaged = false;
  std::error_code ec;
  if (!std::filesystem::exists(file, ec)) return true;
  std::ifstream in(file, std::ios::binary);
  if (!in || !std::filesystem::is_regular_file(file, ec)) {
    ReportError(0, kMsgDefault, "ContactBook", "Load", "Cannot open the address book %s.",
                file.string().c_str());
    return false;
  }
  std::string bytes;
  bool readFailed = false;
  try {
    bytes.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    readFailed = in.bad();
  } catch (const std::exception&) {  // the stream library throws on a read error
    readFailed = true;
  }
  if (readFailed) {
    ReportError(0, kMsgDefault, "ContactBook", "Load", "Cannot read the address book %s.",
                file.string().c_str());
    return false;
  }
  VCardReadResult read = ParseVCards(bytes);
  m_contacts = std::move(read.contacts);
  m_damaged = read.damaged;
  SortByFileAs(m_contacts);
  if (read.damaged) {
    ReportError(0, kMsgDefault, "ContactBook", "Load",
                "The address book %s is damaged at line %zu (%s); %zu contacts could be read.",
                file.string().c_str(), read.problemLine, read.problem.c_str(), m_contacts.size());
  }
  return true;
}

}  // namespace vexo
