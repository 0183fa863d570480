#include "platform/raster/font_matcher.h"

#include <fontconfig/fontconfig.h>

#include <algorithm>
#include <array>
#include <memory>
#include <mutex>

namespace vexo {

namespace {

struct CharSetLang {
  std::uint8_t charSet;
  const char* language;
};

constexpr std::array kCharSetLanguages{
    CharSetLang{128, "ja"},  // SHIFTJIS_CHARSET
    CharSetLang{129, "ko"},  // HANGUL_CHARSET
    CharSetLang{GB2312_CHARSET, "zh-cn"},
    CharSetLang{CHINESEBIG5_CHARSET, "zh-tw"},
    CharSetLang{161, "el"},  // GREEK_CHARSET
    CharSetLang{162, "tr"},  // TURKISH_CHARSET
    CharSetLang{177, "he"},  // HEBREW_CHARSET
    CharSetLang{178, "ar"},  // ARABIC_CHARSET
    CharSetLang{204, "ru"},  // RUSSIAN_CHARSET
    CharSetLang{222, "th"},  // THAI_CHARSET
};

constexpr int kSemiBoldWeight = 600;

struct PatternDeleter {
  void operator()(FcPattern* p) const { FcPatternDestroy(p); }
};
struct CharSetDeleter {
  void operator()(FcCharSet* c) const { FcCharSetDestroy(c); }
};
using PatternPtr = std::unique_ptr<FcPattern, PatternDeleter>;
using CharSetPtr = std::unique_ptr<FcCharSet, CharSetDeleter>;

// fontconfig keeps one process-wide configuration; the lock keeps its first
// load and the matching calls from racing.
std::mutex& FontconfigLock() {
  static std::mutex lock;
  return lock;
}

bool EnsureFontconfig() {
  static const bool ready = FcInit() == FcTrue;
  return ready;
}

PatternPtr RequestPattern(const LOGFONTW& logFont) {
  PatternPtr pattern(FcPatternCreate());
  if (!pattern) return nullptr;
  const std::string face = LogFontFaceName(logFont);
  if (!face.empty())
    FcPatternAddString(pattern.get(), FC_FAMILY, reinterpret_cast<const FcChar8*>(face.c_str()));
  const int weight = logFont.lfWeight <= 0 ? FW_NORMAL : std::min(logFont.lfWeight, 1000);
  FcPatternAddInteger(pattern.get(), FC_WEIGHT, FcWeightFromOpenType(weight));
  FcPatternAddInteger(pattern.get(), FC_SLANT, logFont.lfItalic ? FC_SLANT_ITALIC : FC_SLANT_ROMAN);
  if (const char* lang = CharSetLanguage(logFont.lfCharSet))
    FcPatternAddString(pattern.get(), FC_LANG, reinterpret_cast<const FcChar8*>(lang));
  FcPatternAddBool(pattern.get(), FC_SCALABLE, FcTrue);
  FcPatternAddBool(pattern.get(), FC_OUTLINE, FcTrue);
  return pattern;
}

std::optional<FontFileChoice> ChoiceFrom(const FcPattern* font, const LOGFONTW& logFont) {
  FcChar8* file = nullptr;
  if (FcPatternGetString(font, FC_FILE, 0, &file) != FcResultMatch || file == nullptr)
    return std::nullopt;
  FontFileChoice choice;
  choice.file = reinterpret_cast<const char*>(file);
  int index = 0;
  if (FcPatternGetInteger(font, FC_INDEX, 0, &index) == FcResultMatch) choice.index = index;
  FcChar8* family = nullptr;
  if (FcPatternGetString(font, FC_FAMILY, 0, &family) == FcResultMatch && family != nullptr)
    choice.family = reinterpret_cast<const char*>(family);
  int weight = FC_WEIGHT_REGULAR;
  FcPatternGetInteger(font, FC_WEIGHT, 0, &weight);
  int slant = FC_SLANT_ROMAN;
  FcPatternGetInteger(font, FC_SLANT, 0, &slant);
  choice.synthBold =
      logFont.lfWeight >= kSemiBoldWeight && weight < FcWeightFromOpenType(kSemiBoldWeight);
  choice.synthItalic = logFont.lfItalic != 0 && slant == FC_SLANT_ROMAN;
  return choice;
}

std::optional<FontFileChoice> Match(const LOGFONTW& logFont, const FcCharSet* needed) {
  std::lock_guard guard(FontconfigLock());
  if (!EnsureFontconfig()) return std::nullopt;
  PatternPtr pattern = RequestPattern(logFont);
  if (!pattern) return std::nullopt;
  if (needed != nullptr) FcPatternAddCharSet(pattern.get(), FC_CHARSET, needed);
  FcConfigSubstitute(nullptr, pattern.get(), FcMatchPattern);
  FcDefaultSubstitute(pattern.get());
  // The sorted list holds the fonts' own properties (a prepared match would
  // carry the requested weight and slant), which tell whether to synthesise.
  FcResult result = FcResultNoMatch;
  FcFontSet* sorted = FcFontSort(nullptr, pattern.get(), FcFalse, nullptr, &result);
  if (sorted == nullptr) return std::nullopt;
  std::optional<FontFileChoice> choice;
  for (int i = 0; i < sorted->nfont && !choice; ++i) {
    if (needed != nullptr) {
      FcCharSet* has = nullptr;
      if (FcPatternGetCharSet(sorted->fonts[i], FC_CHARSET, 0, &has) != FcResultMatch ||
          FcCharSetIsSubset(needed, has) != FcTrue)
        continue;
    }
    FcBool scalable = FcFalse;
    if (FcPatternGetBool(sorted->fonts[i], FC_SCALABLE, 0, &scalable) == FcResultMatch &&
        scalable != FcTrue)
      continue;
    choice = ChoiceFrom(sorted->fonts[i], logFont);
  }
  FcFontSetDestroy(sorted);
  return choice;
}

}  // namespace

const char* CharSetLanguage(std::uint8_t charSet) {
  for (const auto& entry : kCharSetLanguages)
    if (entry.charSet == charSet) return entry.language;
  return nullptr;
}

std::optional<FontFileChoice> MatchFont(const LOGFONTW& logFont) { return Match(logFont, nullptr); }

std::optional<FontFileChoice> MatchFontForChar(const LOGFONTW& logFont, char32_t ch) {
  CharSetPtr needed(FcCharSetCreate());
  if (!needed || FcCharSetAddChar(needed.get(), ch) != FcTrue) return std::nullopt;
  return Match(logFont, needed.get());
}

}  // namespace vexo

// fontconfig 2.14 loses 288 bytes once, while applying its configuration in the
// first substitution (an object built from the configuration files is never
// freed). Leak checks of sanitizer builds would fail every program that draws
// text, so that one library's leaks are not reported.
#if defined(__SANITIZE_ADDRESS__)
#define VEXO_ASAN_BUILD 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define VEXO_ASAN_BUILD 1
#endif
#endif
#ifdef VEXO_ASAN_BUILD
extern "C" const char* __lsan_default_suppressions() { return "leak:libfontconfig.so\n"; }
#endif
