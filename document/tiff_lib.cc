#include "document/tiff_lib.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <limits>

#include "base/code_page.h"
#include "base/error_pool.h"
#include "document/tiff_raw.h"
#include "platform/posix/full_io.h"

namespace vexo {

namespace {

// Builds the record the way the hooks define it: module and function are
// "TIFFLIB: " + libtiff's module, the message is cut to the hook's block.
void HookRecord(std::uint32_t type, const char* module, const char* format, va_list args) {
  const std::string moduleText = std::string(kTiffLibPrefix) + (module ? module : "");
  const std::size_t formatLength = format ? std::strlen(format) : 0;
  // The block holds the module text, its terminator and the message.
  const std::size_t messageRoom = formatLength + 256 - 1;
  std::vector<char> message(messageRoom + 1, '\0');
  if (format) std::vsnprintf(message.data(), message.size(), format, args);
  ErrorRecord record;
  record.MessageType = type;
  record.kind = TextKind::Multi;
  record.module = moduleText;
  record.function = moduleText;
  record.message = message.data();
  AddPreparedRecord(std::move(record));
}

void ErrorHook(const char* module, const char* format, va_list args) {
  HookRecord(kTiffErrorType, module, format, args);
}

void WarningHook(const char* module, const char* format, va_list args) {
  HookRecord(kTiffWarningType, module, format, args);
}

}  // namespace

TiffLib::TiffLib() {
  TIFFSetErrorHandler(ErrorHook);
  TIFFSetWarningHandler(WarningHook);
  // The Ext handlers would report a second time.
  TIFFSetErrorHandlerExt(nullptr);
  TIFFSetWarningHandlerExt(nullptr);
}

TiffLib& TiffLib::Initialize() {
  static TiffLib instance;
  return instance;
}

void TiffError(const char* module, const char* format, ...) {
  TiffLib::Initialize();
  va_list args;
  va_start(args, format);
  HookRecord(kTiffErrorType, module, format, args);
  va_end(args);
}

// The client data libtiff's procedures work on: a descriptor, or our buffer.
struct TiffFile::Client {
  UniqueFd fd;
  bool memory = false;
  std::vector<std::uint8_t> bytes;
  std::uint64_t pos = 0;
  bool writesRefused = false;  // abandoned: nothing more reaches the file
};

namespace {

using Client = TiffFile::Client;

Client& ClientOf(thandle_t handle) { return *static_cast<Client*>(handle); }

tmsize_t ClientRead(thandle_t handle, void* buffer, tmsize_t size) {
  Client& c = ClientOf(handle);
  if (size <= 0) return 0;
  if (c.memory) {
    if (c.pos >= c.bytes.size()) return 0;
    const std::size_t n =
        std::min<std::uint64_t>(static_cast<std::uint64_t>(size), c.bytes.size() - c.pos);
    std::memcpy(buffer, c.bytes.data() + c.pos, n);
    c.pos += n;
    return static_cast<tmsize_t>(n);
  }
  return static_cast<tmsize_t>(FullRead(c.fd.get(), buffer, static_cast<std::size_t>(size)).bytes);
}

tmsize_t ClientWrite(thandle_t handle, void* buffer, tmsize_t size) {
  Client& c = ClientOf(handle);
  if (size <= 0 || c.writesRefused) return 0;
  if (c.memory) {
    const std::uint64_t end = c.pos + static_cast<std::uint64_t>(size);
    if (end > kMaxMemoryTiffBytes) return 0;
    if (end > c.bytes.size()) c.bytes.resize(end);
    std::memcpy(c.bytes.data() + c.pos, buffer, static_cast<std::size_t>(size));
    c.pos = end;
    return size;
  }
  const IoResult written = FullWrite(c.fd.get(), buffer, static_cast<std::size_t>(size));
  return written.bytes == static_cast<std::size_t>(size) ? size : 0;
}

toff_t ClientSeek(thandle_t handle, toff_t offset, int whence) {
  Client& c = ClientOf(handle);
  constexpr toff_t kRefused = std::numeric_limits<toff_t>::max();
  if (offset == kRefused) return kRefused;
  if (c.memory) {
    std::int64_t base = 0;
    if (whence == SEEK_CUR) base = static_cast<std::int64_t>(c.pos);
    if (whence == SEEK_END) base = static_cast<std::int64_t>(c.bytes.size());
    const std::int64_t target = base + static_cast<std::int64_t>(offset);
    if (target < 0 || static_cast<std::uint64_t>(target) > kMaxMemoryTiffBytes) return kRefused;
    c.pos = static_cast<std::uint64_t>(target);
    return c.pos;
  }
  if (whence != SEEK_CUR && whence != SEEK_END) whence = SEEK_SET;
  const off_t result = ::lseek(c.fd.get(), static_cast<off_t>(offset), whence);
  return result < 0 ? kRefused : static_cast<toff_t>(result);
}

int ClientClose(thandle_t handle) {
  Client& c = ClientOf(handle);
  if (c.memory) return 0;
  const int fd = c.fd.Release();
  return fd >= 0 && ::close(fd) == 0 ? 0 : -1;
}

toff_t ClientSize(thandle_t handle) {
  Client& c = ClientOf(handle);
  if (c.memory) return c.bytes.size();
  struct stat st {};
  if (::fstat(c.fd.get(), &st) != 0) return 0;
  return static_cast<toff_t>(st.st_size);
}

// Files are never mapped: a mapping of a file that another step shortens would
// fault, and reading through the descriptor costs nothing that matters here.
int ClientMap(thandle_t, void**, toff_t*) { return 0; }
void ClientUnmap(thandle_t, void*, toff_t) {}

bool KnownModeLetter(char letter) {
  return letter == 'r' || letter == 'w' || letter == 'a' || letter == 't';
}

}  // namespace

TiffFile::TiffFile(std::unique_ptr<Client> client, std::string name, std::string mode)
    : m_client(std::move(client)),
      m_name(std::move(name)),
      m_libName(WideToMultiLossy(m_name)),
      m_mode(std::move(mode)) {}

TiffFile::~TiffFile() {
  if (m_tif != nullptr) TIFFClose(m_tif);
}

int TiffFile::fd() const { return m_client->fd.get(); }

bool TiffFile::IsMemory() const { return m_client->memory; }

const std::vector<std::uint8_t>& TiffFile::MemoryBytes() const { return m_client->bytes; }

void TiffFile::ReserveMemory(std::size_t bytes) {
  if (m_client->memory) m_client->bytes.reserve(std::min(bytes, kMaxMemoryTiffBytes));
}

bool TiffFile::Open(const std::string& libMode) {
  m_tif = TIFFClientOpen(m_libName.c_str(), libMode.c_str(), m_client.get(), ClientRead,
                         ClientWrite, ClientSeek, ClientClose, ClientSize, ClientMap, ClientUnmap);
  return m_tif != nullptr;
}

void TiffFile::Abandon() {
  if (m_tif == nullptr) return;
  // TIFFCleanup writes a directory still dirty: it is replaced by a fresh one,
  // and the file takes no more writes whatever libtiff tries.
  // Its codec state and tag values are freed first (a new compression scheme
  // cleans up the old one): a fresh directory does not free them itself.
  m_client->writesRefused = true;
  TIFFSetField(m_tif, TIFFTAG_COMPRESSION, COMPRESSION_NONE);
  TIFFFreeDirectory(m_tif);
  TIFFCreateDirectory(m_tif);
  TIFFCleanup(m_tif);
  m_tif = nullptr;
}

bool TiffFile::Reopen(tdir_t directory) {
  if (m_client->memory) return false;
  // Keep the descriptor through the close: TIFFClose calls our close procedure.
  UniqueFd keep(::dup(fd()));
  if (!keep.valid()) {
    TiffError("TIFFOpenHandle", "Cannot reopen TIFF [filename=%s]", m_libName.c_str());
    return false;
  }
  if (m_tif != nullptr) TIFFClose(m_tif);
  m_tif = nullptr;
  m_client->fd = std::move(keep);
  m_client->pos = 0;
  if (::lseek(fd(), 0, SEEK_SET) < 0) return false;
  const bool readOnly = m_mode[0] == 'r' && m_mode.find('+') == std::string::npos;
  if (!Open(readOnly ? "r" : "r+")) return false;
  return directory == 0 || TIFFSetDirectory(m_tif, directory) == 1;
}

std::unique_ptr<TiffFile> TIFFOpenHandle(UniqueFd fd, const std::string& fileName,
                                         const std::string& mode) {
  TiffLib::Initialize();
  if (mode.empty() || !KnownModeLetter(mode[0])) {
    TiffError("TIFFOpenHandle", "\"%s\": Bad mode", mode.c_str());
    return nullptr;
  }
  auto client = std::make_unique<Client>();
  std::string libMode;
  for (char letter : mode)
    if (letter != 'u') libMode += letter;
  if (mode[0] == 't') {
    // Memory mode: a writing TIFF on our own buffer.
    client->memory = true;
    libMode[0] = 'w';
  } else {
    client->fd = std::move(fd);
  }
  std::unique_ptr<TiffFile> file(new TiffFile(std::move(client), fileName, mode));
  if (!file->Open(libMode)) return nullptr;
  return file;
}

namespace {

// A float resolution as the pair libtiff wrote it (memory TIFFs only).
Rational RationalFromFloat(float value) {
  for (std::uint32_t den = 1; den <= 1000; den *= 10)
    for (std::uint32_t d : {den, den * 2}) {
      const double num = static_cast<double>(value) * d;
      if (num >= 0 && num < 4294967295.0 && std::fabs(num - std::round(num)) < 1e-6)
        return {static_cast<std::uint32_t>(std::lround(num)), d};
    }
  return {static_cast<std::uint32_t>(std::lround(value * 1000.0f)), 1000};
}

}  // namespace

std::optional<Rational> TIFFGetRational(TiffFile& tif, ttag_t tag) {
  if (tif.IsMemory()) {
    float value = 0;
    if (TIFFGetField(tif.get(), tag, &value) != 1) return std::nullopt;
    return RationalFromFloat(value);
  }
  RawTiff raw(tif.fd(), tif.name());
  if (raw.ReadHeader() != RawIo::Ok) return std::nullopt;
  return raw.ReadRational(TIFFCurrentDirOffset(tif.get()), static_cast<std::uint16_t>(tag));
}

StripCoding CodingOf(TiffFile& tif) {
  StripCoding coding;
  TIFF* t = tif.get();
  std::uint32_t width = 0;
  if (TIFFGetField(t, TIFFTAG_IMAGEWIDTH, &width) == 1) coding.width = width;
  std::uint16_t value = 0;
  if (TIFFGetField(t, TIFFTAG_COMPRESSION, &value) == 1) coding.compression = value;
  if (TIFFGetField(t, TIFFTAG_FILLORDER, &value) == 1) coding.fillOrder = value;
  std::uint32_t options = 0;
  if (coding.compression == COMPRESSION_CCITTFAX3 &&
      TIFFGetField(t, TIFFTAG_GROUP3OPTIONS, &options) == 1)
    coding.group3Options = options;
  if (auto x = TIFFGetRational(tif, TIFFTAG_XRESOLUTION)) coding.xResolution = *x;
  if (auto y = TIFFGetRational(tif, TIFFTAG_YRESOLUTION)) coding.yResolution = *y;
  return coding;
}

namespace {

float RationalValue(const Rational& r) {
  return r.den == 0 ? 0.0f : static_cast<float>(static_cast<double>(r.num) / r.den);
}

bool IsFaxCompression(std::uint16_t compression) {
  return compression == COMPRESSION_CCITTFAX3 || compression == COMPRESSION_CCITTFAX4;
}

// One-dimensional Group 3 with the first pixel in the top bit: MhCoder's coding.
bool IsPlainMh(const StripCoding& coding) {
  return coding.compression == COMPRESSION_CCITTFAX3 && coding.group3Options == 0 &&
         coding.fillOrder == FILLORDER_MSB2LSB;
}

}  // namespace

bool FaxEncoder::Begin(std::uint32_t rows, std::size_t reserve) {
  m_tiff.reset();
  m_mh.reset();
  if (!IsFaxCompression(m_coding.compression) || m_coding.width == 0 ||
      m_coding.width > kMaxFaxWidth) {
    TiffError("FaxEncoder", "Unsupported coding for a fax strip");
    return false;
  }
  if (IsPlainMh(m_coding)) {
    m_mh.emplace(m_coding.width);
    m_mh->Reserve(reserve);
    return true;
  }
  m_tiff = TIFFOpenHandle(UniqueFd(), "tmpmem", "tu");
  if (!m_tiff) return false;
  m_tiff->ReserveMemory(reserve);
  TIFF* t = m_tiff->get();
  const bool ok = TIFFSetField(t, TIFFTAG_SUBFILETYPE, FILETYPE_PAGE) == 1 &&
                  TIFFSetField(t, TIFFTAG_IMAGEWIDTH, m_coding.width) == 1 &&
                  TIFFSetField(t, TIFFTAG_IMAGELENGTH, std::max<std::uint32_t>(rows, 1)) == 1 &&
                  TIFFSetField(t, TIFFTAG_BITSPERSAMPLE, 1) == 1 &&
                  TIFFSetField(t, TIFFTAG_COMPRESSION, m_coding.compression) == 1 &&
                  TIFFSetField(t, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_MINISWHITE) == 1 &&
                  TIFFSetField(t, TIFFTAG_FILLORDER, m_coding.fillOrder) == 1 &&
                  TIFFSetField(t, TIFFTAG_ORIENTATION, ORIENTATION_TOPLEFT) == 1 &&
                  TIFFSetField(t, TIFFTAG_SAMPLESPERPIXEL, 1) == 1 &&
                  TIFFSetField(t, TIFFTAG_ROWSPERSTRIP, std::max<std::uint32_t>(rows, 1)) == 1 &&
                  TIFFSetField(t, TIFFTAG_XRESOLUTION, RationalValue(m_coding.xResolution)) == 1 &&
                  TIFFSetField(t, TIFFTAG_YRESOLUTION, RationalValue(m_coding.yResolution)) == 1 &&
                  TIFFSetField(t, TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG) == 1 &&
                  TIFFSetField(t, TIFFTAG_RESOLUTIONUNIT, RESUNIT_INCH) == 1 &&
                  (m_coding.compression != COMPRESSION_CCITTFAX3 ||
                   TIFFSetField(t, TIFFTAG_GROUP3OPTIONS, m_coding.group3Options) == 1);
  if (!ok) m_tiff.reset();
  return ok;
}

bool FaxEncoder::WriteScanline(const std::uint8_t* row, std::uint32_t rowIndex) {
  if (m_mh && row != nullptr) {
    m_mh->AddRow(row);
    return true;
  }
  if (!m_tiff || row == nullptr) return false;
  return TIFFWriteScanline(m_tiff->get(), const_cast<std::uint8_t*>(row), rowIndex, 0) == 1;
}

bool FaxEncoder::WriteEncodedStrip(const std::uint8_t* data, std::size_t cc) {
  if (m_mh && data != nullptr && cc != 0 && cc % RowBytes() == 0) {
    for (std::size_t offset = 0; offset < cc; offset += RowBytes()) m_mh->AddRow(data + offset);
    return true;
  }
  if (!m_tiff || data == nullptr || cc == 0) return false;
  return TIFFWriteEncodedStrip(m_tiff->get(), 0, const_cast<std::uint8_t*>(data),
                               static_cast<tmsize_t>(cc)) >= 0;
}

std::optional<std::vector<std::uint8_t>> FaxEncoder::Finish() {
  if (m_mh) {
    std::optional<std::vector<std::uint8_t>> coded = m_mh->Finish();
    m_mh.reset();
    return coded;
  }
  if (!m_tiff) return std::nullopt;
  TIFF* t = m_tiff->get();
  std::optional<std::vector<std::uint8_t>> result;
  if (TIFFFlushData(t) == 1) {
    const std::uint64_t offset = TIFFGetStrileOffset(t, 0);
    const std::uint64_t count = TIFFGetStrileByteCount(t, 0);
    const auto& bytes = m_tiff->MemoryBytes();
    if (offset <= bytes.size() && count <= bytes.size() - offset)
      result.emplace(bytes.begin() + static_cast<std::ptrdiff_t>(offset),
                     bytes.begin() + static_cast<std::ptrdiff_t>(offset + count));
  }
  m_tiff.reset();
  return result;
}

std::optional<std::vector<std::uint8_t>> EncodeFaxRows(const StripCoding& coding,
                                                       const std::uint8_t* data, std::size_t cc) {
  FaxEncoder encoder(coding);
  const std::size_t rowBytes = encoder.RowBytes();
  if (data == nullptr || cc == 0 || cc % rowBytes != 0) {
    TiffError("FaxEncoder", "Rows of %zu bytes do not fill %zu bytes", rowBytes, cc);
    return std::nullopt;
  }
  const std::size_t rows = cc / rowBytes;
  if (rows > std::numeric_limits<std::uint32_t>::max()) return std::nullopt;
  if (!encoder.Begin(static_cast<std::uint32_t>(rows), cc / 4)) return std::nullopt;
  if (!encoder.WriteEncodedStrip(data, cc)) return std::nullopt;
  return encoder.Finish();
}

std::int64_t TIFFGetEncodedSize(TiffFile& tif, std::uint32_t strip, const std::uint8_t* data,
                                std::size_t cc) {
  TIFF* t = tif.get();
  std::uint16_t compression = COMPRESSION_NONE;
  TIFFGetField(t, TIFFTAG_COMPRESSION, &compression);
  if (!IsFaxCompression(compression)) {
    TiffError(TIFFFileName(t), "No mothod for GetEncodedSize, it is only available for fax3 tiff");
    return -1;
  }
  std::uint16_t planar = PLANARCONFIG_CONTIG;
  TIFFGetField(t, TIFFTAG_PLANARCONFIG, &planar);
  if (planar == PLANARCONFIG_SEPARATE && strip >= TIFFNumberOfStrips(t)) {
    TiffError(TIFFFileName(t), "Can not grow image by strips when using separate planes");
    return -1;
  }
  auto coded = EncodeFaxRows(CodingOf(tif), data, cc);
  if (!coded) return -1;
  return static_cast<std::int64_t>(coded->size());
}

}  // namespace vexo
