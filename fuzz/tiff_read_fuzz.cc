// libFuzzer target for the send side's reading of a fax TIFF file: the input is
// taken as a file and read the way a send session reads it (OpenReadTiffHeader
// to the last ReadFAXData, with and without line dropping), then the page
// numbers are rewritten on it. Nothing may crash, hang or allocate without bound.
#include <sys/mman.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "base/error_pool.h"
#include "document/tiff_oper.h"
#include "document/tiff_update.h"

namespace {

// Bounds that keep one input quick; the file format allows far more.
constexpr int kMaxPages = 32;
constexpr int kMaxChunksPerPage = 4096;

void ReadAsSender(const std::string& path, bool drop) {
  vexo::TiffOper oper;
  oper.SetErrorPool(true);
  if (oper.OpenReadTiffHeader(path) != 1) return;
  oper.GetTotalPageNum();
  oper.MovePage(1);
  oper.MovePage(-1);
  std::vector<std::uint8_t> buffer(vexo::kFaxDataChunk);
  for (int page = 0; page < kMaxPages; ++page) {
    if (oper.ReadTags() == 1) {
      if (page == 1) oper.SetPageHeader(std::vector<std::uint8_t>(100, 0x01));
      for (int chunk = 0; chunk < kMaxChunksPerPage; ++chunk)
        if (oper.ReadFAXData(buffer.data(), drop ? 97 : buffer.size(), drop) <= 0) break;
    }
    if (oper.NextPage() != 1) break;
  }
  oper.CloseReadTiff();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const int fd = ::memfd_create("vexo-fuzz", 0);
  if (fd < 0) return 0;
  if (::write(fd, data, size) == static_cast<ssize_t>(size)) {
    const std::string path = "/proc/self/fd/" + std::to_string(fd);
    ReadAsSender(path, false);
    ReadAsSender(path, true);
    vexo::TIFFUpdateAllPageNum(fd, path, 3);
  }
  ::close(fd);
  vexo::ErrorPool::Instance().Clear();
  return 0;
}
