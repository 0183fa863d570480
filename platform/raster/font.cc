#include "platform/raster/font.h"

#include <ft2build.h>
#include FT_FREETYPE_H
#include FT_SYNTHESIS_H
#include FT_TRUETYPE_TABLES_H

#include <algorithm>
#include <array>
#include <cerrno>
#include <cmath>

#include "platform/text.h"

namespace vexo {

namespace {

// Grey level (0..255) from which a rendered pixel counts as black.
constexpr int kInkThreshold = 128;
// lfHeight 0: 12 points on the display.
constexpr int kDefaultTenthsOfPoint = 120;
constexpr char32_t kSpace = U' ';
// Bookkeeping bytes counted for each cache entry besides the glyph's pixels.
constexpr std::size_t kCacheEntryBytes = 128;

int Scale(long fontUnits, int pixelSize, int unitsPerEm) {
  if (unitsPerEm <= 0) return 0;
  return static_cast<int>(std::lround(static_cast<double>(fontUnits) * pixelSize / unitsPerEm));
}

bool IsControl(char32_t ch) { return ch < 0x20 || ch == 0x7F; }

// How much wider than tall an em is drawn, in pixels, at density.
double AcrossScale(PixelDensity density) {
  if (density.across == 0 || density.down == 0) return 1.0;
  return static_cast<double>(density.across) / density.down;
}

// Sets a face's em to pixelSize rows and as many pixels across as the same
// length takes at density. (TrueType faces that ask for whole sizes get the
// nearest whole em across.)
bool SetEmSize(FT_Face face, int pixelSize, PixelDensity density) {
  FT_Size_RequestRec request{};
  request.type = FT_SIZE_REQUEST_TYPE_NOMINAL;
  request.height = static_cast<FT_Long>(pixelSize) * 64;
  request.width = std::lround(pixelSize * AcrossScale(density) * 64);
  return FT_IS_SCALABLE(face) && FT_Request_Size(face, &request) == 0;
}

}  // namespace

// The FreeType library instance; creating and destroying faces goes through its
// lock, as FreeType asks of a library shared between threads.
class FreeTypeLibrary {
 public:
  static std::shared_ptr<FreeTypeLibrary> Instance() {
    static std::shared_ptr<FreeTypeLibrary> library = [] {
      auto lib = std::make_shared<FreeTypeLibrary>();
      return lib->m_library != nullptr ? lib : nullptr;
    }();
    return library;
  }

  FreeTypeLibrary() {
    if (FT_Init_FreeType(&m_library) != 0) m_library = nullptr;
  }
  ~FreeTypeLibrary() {
    if (m_library != nullptr) FT_Done_FreeType(m_library);
  }
  FreeTypeLibrary(const FreeTypeLibrary&) = delete;
  FreeTypeLibrary& operator=(const FreeTypeLibrary&) = delete;

  FT_Face OpenFace(const std::string& file, int index) {
    std::lock_guard guard(m_lock);
    FT_Face face = nullptr;
    if (FT_New_Face(m_library, file.c_str(), index, &face) != 0) return nullptr;
    return face;
  }
  void CloseFace(FT_Face face) {
    std::lock_guard guard(m_lock);
    FT_Done_Face(face);
  }

  // Fonts already made, by their record and density, so equal ones share glyphs.
  using RegistryKey = std::pair<std::array<std::uint8_t, kLogFontBytes>, PixelDensity>;
  std::mutex& RegistryLock() { return m_registryLock; }
  std::map<RegistryKey, std::weak_ptr<const Font>>& Registry() { return m_registry; }

 private:
  FT_Library m_library = nullptr;
  std::mutex m_lock;
  std::mutex m_registryLock;
  std::map<RegistryKey, std::weak_ptr<const Font>> m_registry;
};

// One opened face file at the font's size.
struct FontFace {
  FontFace(std::shared_ptr<FreeTypeLibrary> owner, FT_Face opened, FontFileChoice chosen)
      : library(std::move(owner)), face(opened), choice(std::move(chosen)) {}
  ~FontFace() {
    if (face != nullptr) library->CloseFace(face);
  }
  FontFace(const FontFace&) = delete;
  FontFace& operator=(const FontFace&) = delete;

  std::shared_ptr<FreeTypeLibrary> library;
  FT_Face face;
  FontFileChoice choice;
};

namespace {

std::unique_ptr<FontFace> OpenSized(const std::shared_ptr<FreeTypeLibrary>& library,
                                    const FontFileChoice& choice, int pixelSize,
                                    PixelDensity density) {
  FT_Face face = library->OpenFace(choice.file, choice.index);
  if (face == nullptr) return nullptr;
  auto opened = std::make_unique<FontFace>(library, face, choice);
  if (!SetEmSize(face, pixelSize, density)) return nullptr;
  return opened;
}

std::string FaceKey(const FontFileChoice& choice) {
  return choice.file + "#" + std::to_string(choice.index);
}

}  // namespace

std::u32string Utf8ToCodePoints(std::string_view utf8) {
  const std::u16string units = Utf8ToUtf16(utf8);
  std::u32string out;
  out.reserve(units.size());
  for (std::size_t i = 0; i < units.size(); ++i) {
    const char16_t u = units[i];
    if (u >= 0xD800 && u <= 0xDBFF && i + 1 < units.size() && units[i + 1] >= 0xDC00 &&
        units[i + 1] <= 0xDFFF) {
      out.push_back(0x10000 + ((static_cast<char32_t>(u) - 0xD800) << 10) +
                    (units[i + 1] - 0xDC00));
      ++i;
    } else {
      out.push_back(u);
    }
  }
  return out;
}

std::shared_ptr<const Font> Font::Create(const LOGFONTW& logFont, int* error,
                                         PixelDensity density) {
  auto fail = [error](int code) -> std::shared_ptr<const Font> {
    if (error != nullptr) *error = code;
    return nullptr;
  };
  std::shared_ptr<FreeTypeLibrary> library = FreeTypeLibrary::Instance();
  if (!library) return fail(ENOMEM);
  const FreeTypeLibrary::RegistryKey key{LogFontToBytes(logFont), density};
  std::lock_guard guard(library->RegistryLock());
  auto& registry = library->Registry();
  if (auto it = registry.find(key); it != registry.end())
    if (auto existing = it->second.lock()) return existing;
  auto font = std::make_shared<Font>(Key{}, library, logFont, density);
  int code = ENOENT;
  if (!font->Open(&code)) return fail(code);
  std::erase_if(registry, [](const auto& entry) { return entry.second.expired(); });
  registry[key] = font;
  return font;
}

Font::Font(Key, std::shared_ptr<FreeTypeLibrary> library, const LOGFONTW& logFont,
           PixelDensity density)
    : m_library(std::move(library)), m_logFont(logFont), m_density(density) {}

Font::~Font() = default;

const FontFileChoice& Font::Choice() const { return m_primary->choice; }

bool Font::Open(int* error) {
  const std::optional<FontFileChoice> choice = MatchFont(m_logFont);
  if (!choice) {
    *error = ENOENT;
    return false;
  }
  FT_Face face = m_library->OpenFace(choice->file, choice->index);
  if (face == nullptr) {
    *error = EIO;
    return false;
  }
  m_primary = std::make_unique<FontFace>(m_library, face, *choice);
  // A cell height (lfHeight > 0) is ascent plus descent; the em size follows
  // from the face's design metrics.
  const int unitsPerEm = face->units_per_EM;
  const TT_OS2* os2 = static_cast<const TT_OS2*>(FT_Get_Sfnt_Table(face, FT_SFNT_OS2));
  long cellUnits = face->ascender - face->descender;
  if (os2 != nullptr && os2->usWinAscent + os2->usWinDescent > 0)
    cellUnits = os2->usWinAscent + os2->usWinDescent;
  long size = -DisplayFontHeight(kDefaultTenthsOfPoint);
  if (m_logFont.lfHeight < 0)
    size = -static_cast<long>(m_logFont.lfHeight);
  else if (m_logFont.lfHeight > 0)
    size = cellUnits > 0 ? std::lround(static_cast<double>(m_logFont.lfHeight) * unitsPerEm /
                                       static_cast<double>(cellUnits))
                         : m_logFont.lfHeight;
  m_pixelSize = static_cast<int>(std::clamp<long>(size, 1, kMaxPixelSize));
  m_pixelWidth = std::max(1, static_cast<int>(std::lround(m_pixelSize * AcrossScale(m_density))));
  if (!SetEmSize(face, m_pixelSize, m_density)) {
    *error = EIO;
    return false;
  }
  ComputeMetrics();
  return true;
}

void Font::ComputeMetrics() {
  const FT_Face face = m_primary->face;
  const int upem = face->units_per_EM;
  const TT_OS2* os2 = static_cast<const TT_OS2*>(FT_Get_Sfnt_Table(face, FT_SFNT_OS2));
  TextMetrics m;
  if (os2 != nullptr && os2->usWinAscent + os2->usWinDescent > 0) {
    m.tmAscent = Scale(os2->usWinAscent, m_pixelSize, upem);
    m.tmDescent = Scale(os2->usWinDescent, m_pixelSize, upem);
  } else {
    m.tmAscent = Scale(face->ascender, m_pixelSize, upem);
    m.tmDescent = Scale(-face->descender, m_pixelSize, upem);
  }
  m.tmHeight = std::max(1, m.tmAscent + m.tmDescent);
  m.tmInternalLeading = std::max(0, m.tmHeight - m_pixelSize);
  m.tmExternalLeading =
      std::max(0, Scale(face->height - (face->ascender - face->descender), m_pixelSize, upem));
  m.tmMaxCharWidth = Scale(face->max_advance_width, m_pixelWidth, upem);
  m.tmWeight = m_logFont.lfWeight <= 0 ? FW_NORMAL : m_logFont.lfWeight;
  m.tmItalic = m_logFont.lfItalic != 0;
  m.tmUnderlined = m_logFont.lfUnderline != 0;
  m_underlinePosition = std::max(1, Scale(-face->underline_position, m_pixelSize, upem));
  m_underlineThickness = std::max(1, Scale(face->underline_thickness, m_pixelSize, upem));
  m_metrics = m;
  const int average = os2 != nullptr && os2->xAvgCharWidth > 0
                          ? Scale(os2->xAvgCharWidth, m_pixelWidth, upem)
                          : Glyph(U'x')->advance;
  m_metrics.tmAveCharWidth = std::max(1, average);
}

FontFace* Font::FaceForLocked(char32_t ch, unsigned* glyphIndex) const {
  if ((*glyphIndex = FT_Get_Char_Index(m_primary->face, ch)) != 0) return m_primary.get();
  if (auto it = m_fallbackFor.find(ch); it != m_fallbackFor.end()) {
    *glyphIndex = it->second != nullptr ? FT_Get_Char_Index(it->second->face, ch) : 0;
    return it->second != nullptr ? it->second : m_primary.get();
  }
  FontFace* found = nullptr;
  for (const auto& [key, face] : m_fallbacks)
    if (FT_Get_Char_Index(face->face, ch) != 0) {
      found = face.get();
      break;
    }
  if (found == nullptr)
    if (const auto choice = MatchFontForChar(m_logFont, ch)) {
      const std::string key = FaceKey(*choice);
      auto it = m_fallbacks.find(key);
      if (it == m_fallbacks.end())
        if (auto opened = OpenSized(m_library, *choice, m_pixelSize, m_density))
          it = m_fallbacks.emplace(key, std::move(opened)).first;
      if (it != m_fallbacks.end() && FT_Get_Char_Index(it->second->face, ch) != 0)
        found = it->second.get();
    }
  m_fallbackFor[ch] = found;
  if (found == nullptr) return m_primary.get();  // glyph 0: the face's missing-glyph box
  *glyphIndex = FT_Get_Char_Index(found->face, ch);
  return found;
}

std::shared_ptr<const GlyphImage> Font::RenderLocked(char32_t ch) const {
  auto image = std::make_shared<GlyphImage>();
  if (IsControl(ch)) return image;
  unsigned glyphIndex = 0;
  FontFace* face = FaceForLocked(ch, &glyphIndex);
  FT_Face ft = face->face;
  if (FT_Load_Glyph(ft, glyphIndex, FT_LOAD_DEFAULT | FT_LOAD_NO_BITMAP) != 0) return image;
  FT_GlyphSlot slot = ft->glyph;
  if (slot->format == FT_GLYPH_FORMAT_OUTLINE) {
    if (face->choice.synthItalic) FT_GlyphSlot_Oblique(slot);
    if (face->choice.synthBold) FT_GlyphSlot_Embolden(slot);
  }
  image->advance = static_cast<int>((slot->advance.x + 32) >> 6);
  if (FT_Render_Glyph(slot, FT_RENDER_MODE_NORMAL) != 0) return image;
  const FT_Bitmap& bitmap = slot->bitmap;
  if (bitmap.pixel_mode != FT_PIXEL_MODE_GRAY) return image;
  image->left = slot->bitmap_left;
  image->top = slot->bitmap_top;
  image->width = static_cast<int>(bitmap.width);
  image->rows = static_cast<int>(bitmap.rows);
  image->ink.resize(static_cast<std::size_t>(image->width) * image->rows);
  for (int y = 0; y < image->rows; ++y) {
    const unsigned char* src = bitmap.buffer + static_cast<std::ptrdiff_t>(y) * bitmap.pitch;
    for (int x = 0; x < image->width; ++x)
      image->ink[static_cast<std::size_t>(y) * image->width + x] = src[x] >= kInkThreshold ? 1 : 0;
  }
  return image;
}

std::shared_ptr<const GlyphImage> Font::Glyph(char32_t ch) const {
  std::lock_guard guard(m_lock);
  if (auto it = m_glyphs.find(ch); it != m_glyphs.end()) return it->second;
  if (m_cacheBytes > kMaxCacheBytes) {
    m_glyphs.clear();
    m_fallbackFor.clear();
    m_cacheBytes = 0;
  }
  auto image = RenderLocked(ch);
  // The glyph, its map node and the fallback entry a missing character adds.
  const std::size_t bytes = image->ink.size() + sizeof(GlyphImage) + kCacheEntryBytes;
  m_glyphs.emplace(ch, image);
  m_cacheBytes += bytes;
  return image;
}

TextExtent Font::Measure(std::string_view utf8, int maxExtent, const TextOptions& options) const {
  const std::u32string chars = Utf8ToCodePoints(utf8);
  TextExtent extent;
  extent.partial.reserve(chars.size());
  extent.cy = m_metrics.tmHeight;
  int x = 0;
  bool fitting = true;
  for (const char32_t ch : chars) {
    if (ch == U'\t' && options.tabWidth > 0)
      x = (x / options.tabWidth + 1) * options.tabWidth;
    else
      x += Glyph(ch == U'\t' ? kSpace : ch)->advance;
    extent.partial.push_back(x);
    fitting = fitting && (maxExtent < 0 || x <= maxExtent);
    if (fitting) ++extent.fit;
  }
  extent.cx = x;
  return extent;
}

int Font::TextWidth(std::string_view utf8, const TextOptions& options) const {
  return Measure(utf8, -1, options).cx;
}

}  // namespace vexo
