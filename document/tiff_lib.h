// The layer between the fax document code and libtiff: TiffLib routes libtiff's
// error and warning messages into the error pool, TiffFile owns one TIFF opened
// on a file descriptor (or, in memory mode "t", on a buffer of ours) through
// TIFFClientOpen, and FaxEncoder codes bitmap rows into Group 3/4 bytes in
// memory. TiffOper, the page header and the document writers use it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include <tiffio.h>

#include "document/mh_coder.h"
#include "document/page_geometry.h"
#include "platform/posix/unique_fd.h"

namespace vexo {

// A TIFF RATIONAL as stored in the file.
struct Rational {
  std::uint32_t num = 0;
  std::uint32_t den = 0;
  friend bool operator==(const Rational&, const Rational&) = default;
};

// Bounds on what a memory TIFF may hold and how wide a fax row may be (the widest
// T.4 page, A3 at 400 pixels per inch).
constexpr std::size_t kMaxMemoryTiffBytes = std::size_t{64} << 20;
constexpr std::uint32_t kMaxFaxWidth = 4864;

// Message types of the records the library hooks add.
constexpr std::uint32_t kTiffErrorType = 25;
constexpr std::uint32_t kTiffWarningType = 26;
// Module (and function) text of the hooks' records: this prefix + libtiff's module.
constexpr const char* kTiffLibPrefix = "TIFFLIB: ";

// The process-wide hook owner. Instance() installs the hooks on first use; every
// open through TIFFOpenHandle makes sure of it, so no caller can forget.
class TiffLib {
 public:
  static TiffLib& Initialize();
  TiffLib(const TiffLib&) = delete;
  TiffLib& operator=(const TiffLib&) = delete;

 private:
  TiffLib();
};

// Reports through the library's error hook, as libtiff's own messages arrive:
// a record with module "TIFFLIB: " + module, type 25.
void TiffError(const char* module, const char* format, ...) __attribute__((format(printf, 2, 3)));

// One open TIFF. For a file, the descriptor belongs to the object and is closed
// with it. In memory mode the file bytes live in MemoryBytes().
class TiffFile {
 public:
  ~TiffFile();
  TiffFile(const TiffFile&) = delete;
  TiffFile& operator=(const TiffFile&) = delete;

  TIFF* get() const { return m_tif; }
  int fd() const;
  const std::string& name() const { return m_name; }
  // The name as libtiff knows it: 8-bit text in the ANSI code page, as the
  // library's (and our hook's) messages are.
  const std::string& libName() const { return m_libName; }
  const std::string& mode() const { return m_mode; }
  bool IsMemory() const;
  bool IsBigEndian() const { return m_tif != nullptr && TIFFIsBigEndian(m_tif) != 0; }
  const std::vector<std::uint8_t>& MemoryBytes() const;
  // Memory mode: reserves room for bytes of coding ahead.
  void ReserveMemory(std::size_t bytes);

  // Frees libtiff's handle without writing anything it still holds (a
  // directory whose page data could not be written); the descriptor stays
  // open with the object.
  void Abandon();

  // Closes libtiff's handle, keeps the descriptor and opens it again ("r" stays
  // "r", every writing mode becomes "r+"), then selects directory. Used after
  // the file bytes were changed with our own I/O. False after a report; the
  // object then holds no TIFF.
  bool Reopen(tdir_t directory);

  struct Client;

 private:
  friend std::unique_ptr<TiffFile> TIFFOpenHandle(UniqueFd, const std::string&, const std::string&);
  TiffFile(std::unique_ptr<Client> client, std::string name, std::string mode);
  bool Open(const std::string& libMode);

  std::unique_ptr<Client> m_client;
  std::string m_name;
  std::string m_libName;
  std::string m_mode;
  TIFF* m_tif = nullptr;
};

// Opens a TIFF on fd through TIFFClientOpen. Modes: "r" reading ("r+" reading and
// writing), "w" create/truncate, "a" append, "t" memory (no file: fd is ignored,
// the TIFF is written into a buffer of ours). A "u" (no mapping) is accepted and
// has no effect: files are never mapped. Further letters go to libtiff ("b", "l").
// nullptr after a report (a bad mode reports "\"%s\": Bad mode").
std::unique_ptr<TiffFile> TIFFOpenHandle(UniqueFd fd, const std::string& fileName,
                                         const std::string& mode);

// Reads a RATIONAL tag of the current directory from the raw directory entry,
// so the exact (numerator, denominator) pair is returned; nullopt when absent.
std::optional<Rational> TIFFGetRational(TiffFile& tif, ttag_t tag);

// How fax rows are coded.
struct StripCoding {
  std::uint32_t width = 1728;
  std::uint16_t compression = COMPRESSION_CCITTFAX3;
  std::uint32_t group3Options = 0;
  std::uint16_t fillOrder = FILLORDER_MSB2LSB;
  Rational xResolution{kFaxXResolution, 1};
  Rational yResolution{kFineRowsPerInch, 1};
};

// The coding of this page's current directory (width, compression, options).
StripCoding CodingOf(TiffFile& tif);

// Codes 1-bit rows (0 white, MSB first, (width + 7) / 8 bytes each) in memory
// with libtiff's Group 3/4 coder; plain MH (Group3Options 0, MSB first) goes
// through MhCoder, which gives the same bytes faster. Begin opens a fresh memory TIFF (the write
// state of the previous strip is gone), rows are written as scanlines or as one
// strip, Finish completes the coding and hands back the strip bytes.
class FaxEncoder {
 public:
  explicit FaxEncoder(const StripCoding& coding) : m_coding(coding) {}

  // rows: ImageLength of the strip; reserve: bytes to reserve for the coding.
  bool Begin(std::uint32_t rows, std::size_t reserve = 0);
  bool WriteScanline(const std::uint8_t* row, std::uint32_t rowIndex);
  bool WriteEncodedStrip(const std::uint8_t* data, std::size_t cc);
  // The coded bytes of strip 0; nullopt after a report. Resets the write state.
  std::optional<std::vector<std::uint8_t>> Finish();

  std::size_t RowBytes() const { return (m_coding.width + 7) / 8; }

 private:
  StripCoding m_coding;
  std::unique_ptr<TiffFile> m_tiff;
  std::optional<MhCoder> m_mh;
};

// Codes cc bytes of rows as one strip.
std::optional<std::vector<std::uint8_t>> EncodeFaxRows(const StripCoding& coding,
                                                       const std::uint8_t* data, std::size_t cc);

// The byte count the Group 3/4 coder produces for cc bytes of rows as strip
// `strip` of tif's current directory, or -1 (other compressions report "No
// mothod for GetEncodedSize, it is only available for fax3 tiff").
std::int64_t TIFFGetEncodedSize(TiffFile& tif, std::uint32_t strip, const std::uint8_t* data,
                                std::size_t cc);

}  // namespace vexo
