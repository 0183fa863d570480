#include "document/tiff_oper.h"

#include <fcntl.h>
#include <strings.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>

#include "base/error_pool.h"
#include "document/fax_coding.h"
#include "document/tiff_raw.h"
#include "document/tiff_update.h"
#include "platform/posix/full_io.h"

namespace vexo {
namespace {

constexpr const char* kModule = "TiffOper";
constexpr const char* kMarker = "VEXO";
constexpr std::uint32_t kFaxWidth = 1728;
// The most page data held for one page: as much as a page can be decoded from.
constexpr std::size_t kMaxPageBytes = kMaxMemoryTiffBytes / 2;
// Pages are tagged at the density the line declares: 204 across, 7.7 (fine)
// or 3.85 (normal) lines per millimetre down.
constexpr float kResolutionAcross = kFaxXResolution;
constexpr float kResolutionFine = kFineRowsPerInch;
constexpr float kResolutionNormal = kNormalRowsPerInch;
constexpr std::uint32_t kFineLinesPerInch = 180;
constexpr mode_t kFileMode = 0644;

void ReportOpenFailure(const std::string& fileName, int error) {
  ReportErrorCode(0, kMsgDefault, kModule, "CreateFile", error,
                  "Open File Error FileName=[%s], ErrMsg = ", fileName.c_str());
}

// Vertical resolution in pixels per inch, rounded to nearest.
std::uint64_t LinesPerInch(const Rational& y, bool centimetres) {
  if (y.den == 0) return 0;
  const std::uint64_t n = y.num;
  const std::uint64_t d = y.den;
  if (centimetres) return (n * 254 + d * 50) / (d * 100);
  return n / d + ((n % d) * 2 >= d ? 1 : 0);
}

// Makes the directory chain end after `pages` directories: what follows
// them is a page that could not be written. False when the chain is unreadable.
bool EndChainAfter(int fd, const std::string& fileName, std::uint32_t pages) {
  RawTiff raw(fd, fileName);
  if (raw.ReadHeader() != RawIo::Ok) return false;
  std::uint64_t link = kFirstDirectoryLink;
  std::uint32_t dir = raw.FirstDirectory();
  for (std::uint32_t i = 0; i < pages; ++i) {
    std::uint16_t entries = 0;
    if (dir == 0 || raw.ReadU16(dir, entries) != RawIo::Ok) return false;
    link = RawTiff::LinkPos(dir, entries);
    if (raw.ReadU32(link, dir) != RawIo::Ok) return false;
  }
  return raw.WriteU32(link, 0) == RawIo::Ok;
}

}  // namespace

TiffOper::TiffOper() = default;

TiffOper::~TiffOper() { CloseAll(); }

void TiffOper::SetErrorPool(bool readFlag) {
  TiffLib::Initialize();
  m_readFlag = readFlag;
}

void TiffOper::CloseAll() {
  if (m_tiff && m_tiff->mode()[0] == 'w') CloseWriteTiff();
  m_tiff.reset();
  m_page.reset();
  m_writeFailed = false;
  m_remaining = 0;
  m_headerReady = false;
}

int TiffOper::CurrentDirectory() const {
  return m_tiff ? static_cast<int>(TIFFCurrentDirectory(m_tiff->get())) : -1;
}

// ---- write side ----

int TiffOper::OpenWriteTiff(const std::string& fileName, CreateMode mode) {
  CloseAll();
  m_fileName = fileName;
  m_pageCounter = 0;
  m_writeFailed = false;
  const int flags =
      O_RDWR | O_CREAT | O_CLOEXEC | (mode == CreateMode::Exclusive ? O_EXCL : O_TRUNC);
  UniqueFd fd(::open(fileName.c_str(), flags, kFileMode));
  if (!fd.valid()) {
    ReportOpenFailure(fileName, errno);
    return 0;
  }
  m_tiff = TIFFOpenHandle(std::move(fd), fileName, "wu");
  if (!m_tiff) {
    ::unlink(fileName.c_str());
    return 0;
  }
  return 1;
}

int TiffOper::SetPageTags(std::uint32_t width, std::uint32_t /*length*/, std::uint32_t flags) {
  if (!m_tiff || m_tiff->mode()[0] != 'w' || m_writeFailed) return 0;
  m_page = OpenPage{width, flags, {}};
  return 1;
}

bool TiffOper::SetTags(const OpenPage& page, std::uint32_t rows) {
  TIFF* t = m_tiff->get();
  const std::uint32_t flags = page.flags;
  return TIFFSetField(t, TIFFTAG_SUBFILETYPE, FILETYPE_PAGE) == 1 &&
         TIFFSetField(t, TIFFTAG_IMAGEWIDTH, page.width) == 1 &&
         TIFFSetField(t, TIFFTAG_IMAGELENGTH, rows) == 1 &&
         TIFFSetField(t, TIFFTAG_BITSPERSAMPLE, 1) == 1 &&
         TIFFSetField(t, TIFFTAG_COMPRESSION,
                      (flags & PAGE_G4) ? COMPRESSION_CCITTFAX4 : COMPRESSION_CCITTFAX3) == 1 &&
         TIFFSetField(t, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_MINISWHITE) == 1 &&
         TIFFSetField(t, TIFFTAG_FILLORDER,
                      (flags & PAGE_LSB_FIRST) ? FILLORDER_LSB2MSB : FILLORDER_MSB2LSB) == 1 &&
         TIFFSetField(t, TIFFTAG_ORIENTATION, ORIENTATION_TOPLEFT) == 1 &&
         TIFFSetField(t, TIFFTAG_SAMPLESPERPIXEL, 1) == 1 &&
         TIFFSetField(t, TIFFTAG_ROWSPERSTRIP, rows) == 1 &&
         TIFFSetField(t, TIFFTAG_XRESOLUTION, kResolutionAcross) == 1 &&
         TIFFSetField(t, TIFFTAG_YRESOLUTION,
                      (flags & PAGE_FINE) ? kResolutionFine : kResolutionNormal) == 1 &&
         TIFFSetField(t, TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG) == 1 &&
         ((flags & PAGE_G4) || TIFFSetField(t, TIFFTAG_GROUP3OPTIONS,
                                            (flags & PAGE_2D) ? GROUP3OPT_2DENCODING : 0) == 1) &&
         TIFFSetField(t, TIFFTAG_RESOLUTIONUNIT, RESUNIT_INCH) == 1 &&
         TIFFSetField(t, TIFFTAG_PAGENUMBER, static_cast<std::uint16_t>(m_pageCounter),
                      std::uint16_t{0}) == 1 &&
         TIFFSetField(t, TIFFTAG_SOFTWARE, kMarker) == 1;
}

int TiffOper::WriteFaxData(const std::uint8_t* data, std::size_t count) {
  if (!m_tiff || !m_page) return 0;
  if (count == 0) return 1;
  std::vector<std::uint8_t>& held = m_page->data;
  if (data == nullptr || count > kMaxPageBytes - held.size()) return 0;
  held.insert(held.end(), data, data + count);
  return 1;
}

int TiffOper::WritePage(std::uint32_t rows) {
  const OpenPage page = std::move(*m_page);
  m_page.reset();
  TIFF* t = m_tiff->get();
  const auto size = static_cast<tmsize_t>(page.data.size());
  if (SetTags(page, rows) &&
      TIFFWriteRawStrip(t, 0, const_cast<std::uint8_t*>(page.data.data()), size) == size &&
      TIFFWriteDirectory(t) == 1) {
    ++m_pageCounter;
    return 1;
  }
  // What libtiff still holds of the page must not reach the file.
  m_writeFailed = true;
  ReportError(0, kMsgDefault, kModule, "EndPage",
              "TiffOper encounter error: TiffFileName = %s, ErrMsg = %s", m_fileName.c_str(),
              "The page could not be written; the pages before it are kept.");
  return 0;
}

int TiffOper::EndPage(std::uint32_t rows) {
  if (!m_tiff || !m_page) return 0;
  if (rows == 0 || m_page->data.empty()) return EndCutPage();
  return WritePage(rows);
}

int TiffOper::EndCutPage() {
  if (!m_tiff || !m_page) return 0;
  const std::uint32_t rows = WholeRows(m_page->data, CodingOfPageFlags(m_page->flags),
                                       m_page->width, (m_page->flags & PAGE_FINE) != 0);
  if (rows == 0) {
    m_page.reset();  // nothing of it arrived whole
    return 1;
  }
  return WritePage(rows);
}

int TiffOper::CloseWriteTiff() {
  if (!m_tiff || m_tiff->mode()[0] != 'w') return 0;
  if (m_page) EndCutPage();
  UniqueFd keep(::dup(m_tiff->fd()));
  if (m_writeFailed) m_tiff->Abandon();
  m_tiff.reset();  // writes what libtiff still holds and closes its descriptor
  if (!keep.valid()) {
    ReportOpenFailure(m_fileName, errno);
    return 0;
  }
  // A directory that failed half-written may already be linked to the last page.
  const bool chainOk = !m_writeFailed || EndChainAfter(keep.get(), m_fileName, m_pageCounter);
  const int ok = chainOk ? TIFFUpdateAllPageNum(keep.get(), m_fileName,
                                                static_cast<std::uint16_t>(m_pageCounter))
                         : 0;
  if (::fsync(keep.get()) != 0) return 0;
  return ok == 1 && !m_writeFailed ? 1 : 0;
}

// ---- read side ----

int TiffOper::OpenReadTiffHeader(const std::string& fileName) {
  CloseAll();
  m_fileName = fileName;
  m_pageCounter = 0;
  UniqueFd fd(::open(fileName.c_str(), O_RDWR | O_CLOEXEC));
  if (!fd.valid() && (errno == EACCES || errno == EROFS || errno == EPERM))
    fd = UniqueFd(::open(fileName.c_str(), O_RDONLY | O_CLOEXEC));  // a read-only fax still sends
  if (!fd.valid()) {
    ReportOpenFailure(fileName, errno);
    return 0;
  }
  m_tiff = TIFFOpenHandle(std::move(fd), fileName, "ru");
  if (!m_tiff) return 0;
  const char* software = nullptr;
  if (TIFFGetField(m_tiff->get(), TIFFTAG_SOFTWARE, &software) == 1 && software != nullptr &&
      ::strcasecmp(software, kMarker) == 0)
    return 1;
  ReportError(0, kMsgDefault, kModule, "OpenReadTiffHeader",
              "Unsupported TIFF file format, please make sure the TIFF file is created by Vexo, "
              "TifFile = %s",
              fileName.c_str());
  m_tiff.reset();
  return 0;
}

int TiffOper::GetTotalPageNum() {
  if (!m_tiff) return 0;
  TIFF* t = m_tiff->get();
  std::uint16_t index = 0;
  std::uint16_t total = 0;
  if (TIFFGetField(t, TIFFTAG_PAGENUMBER, &index, &total) == 1 && total != 0) return total;
  // Counting walks the directory offsets; the current directory stays loaded.
  return static_cast<int>(TIFFNumberOfDirectories(t));
}

int TiffOper::MovePage(int delta) {
  if (!m_tiff) return -1;
  if (delta == 0) return GetTotalPageNum();
  TIFF* t = m_tiff->get();
  const int current = static_cast<int>(TIFFCurrentDirectory(t));
  const long target = static_cast<long>(current) + delta;
  if (target < 0 || target >= static_cast<long>(TIFFNumberOfDirectories(t))) return -1;
  if (TIFFSetDirectory(t, static_cast<tdir_t>(target)) != 1) {
    TIFFSetDirectory(t, static_cast<tdir_t>(current));
    return -1;
  }
  return delta;
}

void TiffOper::LoadTagValues() {
  TIFF* t = m_tiff->get();
  FaxPageTags tags;
  TIFFGetField(t, TIFFTAG_SUBFILETYPE, &tags.newSubfileType);
  TIFFGetField(t, TIFFTAG_IMAGEWIDTH, &tags.imageWidth);
  TIFFGetField(t, TIFFTAG_IMAGELENGTH, &tags.imageLength);
  TIFFGetFieldDefaulted(t, TIFFTAG_BITSPERSAMPLE, &tags.bitsPerSample);
  TIFFGetFieldDefaulted(t, TIFFTAG_COMPRESSION, &tags.compression);
  TIFFGetField(t, TIFFTAG_PHOTOMETRIC, &tags.photometric);
  TIFFGetFieldDefaulted(t, TIFFTAG_FILLORDER, &tags.fillOrder);
  TIFFGetFieldDefaulted(t, TIFFTAG_ORIENTATION, &tags.orientation);
  TIFFGetFieldDefaulted(t, TIFFTAG_SAMPLESPERPIXEL, &tags.samplesPerPixel);
  TIFFGetFieldDefaulted(t, TIFFTAG_ROWSPERSTRIP, &tags.rowsPerStrip);
  if (auto x = TIFFGetRational(*m_tiff, TIFFTAG_XRESOLUTION)) tags.xResolution = *x;
  if (auto y = TIFFGetRational(*m_tiff, TIFFTAG_YRESOLUTION)) tags.yResolution = *y;
  TIFFGetFieldDefaulted(t, TIFFTAG_PLANARCONFIG, &tags.planarConfig);
  if (tags.compression == COMPRESSION_CCITTFAX3)
    TIFFGetField(t, TIFFTAG_GROUP3OPTIONS, &tags.group3Options);
  TIFFGetFieldDefaulted(t, TIFFTAG_RESOLUTIONUNIT, &tags.resolutionUnit);
  TIFFGetField(t, TIFFTAG_PAGENUMBER, &tags.pageIndex, &tags.pageTotal);
  const char* software = nullptr;
  if (TIFFGetField(t, TIFFTAG_SOFTWARE, &software) == 1 && software != nullptr)
    tags.software = software;
  if (TIFFNumberOfStrips(t) > 0) {
    tags.stripOffset = TIFFGetStrileOffset(t, 0);
    tags.stripByteCount = TIFFGetStrileByteCount(t, 0);
  }
  m_tags = std::move(tags);
}

int TiffOper::ReadTagsFail(const char* reason) {
  m_remaining = 0;  // a refused page hands out nothing
  ReportError(0, kMsgDefault, kModule, "ReadTags",
              "TiffOper encounter error: TiffFileName = %s, ErrMsg = %s", m_fileName.c_str(),
              reason);
  return -1;
}

int TiffOper::ReadTags() {
  m_headerReady = false;
  m_headerDelivered = false;
  m_header.clear();
  m_headerSent = 0;
  m_remaining = 0;
  if (!m_tiff || m_tiff->mode()[0] != 'r') return -1;
  LoadTagValues();
  m_readPos = m_tags.stripOffset;
  m_remaining = m_tags.stripByteCount;
  const FaxPageTags& tags = m_tags;
  if (tags.imageWidth != kFaxWidth)
    return ReadTagsFail("Not support TIFF image width is not 1728 pixels.");
  m_pageInfo = FaxPageInfo{kFaxWidth, tags.imageLength, 0};
  if (tags.bitsPerSample != 1)
    return ReadTagsFail("Unsupport TIFF file that is not black and white only.");
  if (tags.compression != COMPRESSION_CCITTFAX3 && tags.compression != COMPRESSION_CCITTFAX4)
    return ReadTagsFail("Unsupport TIFF file compression type.");
  if (tags.compression == COMPRESSION_CCITTFAX4) m_pageInfo.flags |= PAGE_G4;
  if (tags.photometric != PHOTOMETRIC_MINISWHITE) m_pageInfo.flags |= PAGE_MIN_IS_BLACK;
  if (tags.fillOrder == FILLORDER_LSB2MSB) m_pageInfo.flags |= PAGE_LSB_FIRST;
  if (tags.samplesPerPixel != 1)
    return ReadTagsFail("Unsupport TIFF file that is not black and white only.");
  if (tags.imageLength > tags.rowsPerStrip)
    return ReadTagsFail("Error TIFF format (Image length is larger than rows in image).");
  if (tags.group3Options & GROUP3OPT_2DENCODING) m_pageInfo.flags |= PAGE_2D;
  if (tags.resolutionUnit != RESUNIT_INCH && tags.resolutionUnit != RESUNIT_CENTIMETER)
    return ReadTagsFail("Undefined resolution unit in the TIFF image file.");
  const bool centimetres = tags.resolutionUnit == RESUNIT_CENTIMETER;
  if (centimetres) m_pageInfo.flags |= PAGE_RES_CM;
  const std::uint64_t linesPerInch = LinesPerInch(tags.yResolution, centimetres);
  if (linesPerInch >= kFineLinesPerInch) m_pageInfo.flags |= PAGE_FINE;
  if (linesPerInch <= UINT32_MAX &&
      LongerThanA4(tags.imageLength, static_cast<std::uint32_t>(linesPerInch)))
    m_pageInfo.flags |= PAGE_LONG;
  m_dropper.Reset((m_pageInfo.flags & PAGE_LSB_FIRST) != 0);
  ++m_pageCounter;
  return 1;
}

void TiffOper::SetPageHeader(std::vector<std::uint8_t> coded) {
  if (!m_readFlag) return;
  m_header = std::move(coded);
  m_headerSent = 0;
  m_headerReady = true;
  m_headerDelivered = false;
}

bool TiffOper::ReadStripBytes(std::uint8_t* buffer, std::size_t count, std::uint64_t offset) {
  const IoResult read = FullPread(m_tiff->fd(), buffer, count, offset);
  if (read.error != 0) {
    ReportErrorCode(
        0, kMsgDefault, kModule, "ReadFAXData", read.error,
        "TiffOper encounter filesystem error: TiffFileName = %s, ErrMsg =", m_fileName.c_str());
    return false;
  }
  if (read.bytes == count) return true;
  ReportError(0, kMsgDefault, kModule, "ReadFAXData",
              "TiffOper encounter error: TiffFileName = %s, ErrMsg = %s", m_fileName.c_str(),
              "Try to read data beyond end of file.");
  return false;
}

std::optional<std::vector<std::uint8_t>> TiffOper::ReadPageStrip() {
  if (!m_tiff || m_tiff->mode()[0] != 'r' || m_tags.stripByteCount == 0 ||
      m_tags.stripByteCount > kMaxMemoryTiffBytes) {
    ReportError(0, kMsgDefault, kModule, "ReadFAXData",
                "TiffOper encounter error: TiffFileName = %s, ErrMsg = %s", m_fileName.c_str(),
                "No page is loaded, or it holds no data or more than a page can.");
    return std::nullopt;
  }
  std::vector<std::uint8_t> strip(static_cast<std::size_t>(m_tags.stripByteCount));
  if (!ReadStripBytes(strip.data(), strip.size(), m_tags.stripOffset)) return std::nullopt;
  return strip;
}

int TiffOper::ReadPlain(std::uint8_t* buffer, std::size_t size) {
  if (m_remaining == 0) return 0;
  const std::size_t n = static_cast<std::size_t>(std::min<std::uint64_t>(size, m_remaining));
  if (!ReadStripBytes(buffer, n, m_readPos)) return -1;
  m_readPos += n;
  m_remaining -= n;
  return static_cast<int>(n);
}

int TiffOper::ReadDropping(std::uint8_t* buffer, std::size_t size) {
  std::array<std::uint8_t, kFaxDataChunk> work{};
  // A chunk that lies wholly in a dropped line gives nothing; read on, since 0
  // would end the page.
  for (;;) {
    if (m_remaining == 0 || m_dropper.AtEnd()) return 0;
    const std::size_t n = static_cast<std::size_t>(std::min<std::uint64_t>(size, m_remaining));
    if (!ReadStripBytes(work.data(), n, m_readPos)) return -1;
    const LineDropper::Result r = m_dropper.Feed(work.data(), n, buffer, size);
    m_readPos += r.consumed;
    m_remaining -= r.consumed;
    // The page ends with its return to control; what follows it is not page data.
    if (m_dropper.AtEnd()) m_remaining = 0;
    if (r.produced > 0) return static_cast<int>(r.produced);
  }
}

int TiffOper::ReadFAXData(std::uint8_t* buffer, std::size_t size, bool dropAlternateLines) {
  if (!m_tiff || buffer == nullptr || size == 0) return -1;
  size = std::min(size, kFaxDataChunk);
  if (m_headerReady && !m_headerDelivered) {
    const std::size_t left = m_header.size() - m_headerSent;
    if (left == 0) {
      m_headerDelivered = true;
    } else {
      const std::size_t n = std::min(size, left);
      std::copy_n(m_header.begin() + static_cast<std::ptrdiff_t>(m_headerSent), n, buffer);
      m_headerSent += n;
      if (n < size) m_headerDelivered = true;
      return static_cast<int>(n);
    }
  }
  // Line dropping needs one-dimensional Group 3 lines and room for the zero
  // bytes it puts before a kept line.
  const bool drop = dropAlternateLines && (m_pageInfo.flags & PAGE_FINE) &&
                    !(m_pageInfo.flags & PAGE_G4) && size >= 3;
  return drop ? ReadDropping(buffer, size) : ReadPlain(buffer, size);
}

int TiffOper::NextPage() {
  if (!m_tiff || m_tiff->mode()[0] != 'r') return 0;
  m_remaining = 0;
  return TIFFReadDirectory(m_tiff->get()) == 1 ? 1 : 0;
}

void TiffOper::CloseReadTiff() {
  if (m_tiff && m_tiff->mode()[0] == 'r') m_tiff.reset();
  m_remaining = 0;
}

}  // namespace vexo
