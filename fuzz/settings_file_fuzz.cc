// Fuzz target: the settings file reader. Init.vxi is a text file users edit
// by hand, so it can hold anything: lines without "=", stray quotes, bad hex
// of a font entry, numbers out of range, text not valid in the code page. The
// reader must take what it can, and what it took must write out and read back
// to the same file (a save never changes what the next start reads).
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>

#include "app/settings/settings.h"
#include "base/error_pool.h"

namespace {

std::string TempDir() {
  static const std::string dir = [] {
    // Saves sync the file to disk; in memory that costs nothing.
    std::string name = access("/dev/shm", W_OK) == 0 ? "/dev/shm" : "/tmp";
    name += "/vexo-settings-fuzz-XXXXXX";
    if (mkdtemp(name.data()) == nullptr) std::abort();
    return name + "/";
  }();
  return dir;
}

void WriteFile(const std::string& path, const std::uint8_t* data, std::size_t size) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
}

std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string input = TempDir() + "input.vxi";
  const std::string first = TempDir() + "first.vxi";
  const std::string second = TempDir() + "second.vxi";
  WriteFile(input, data, size);

  vexo::AppSettings read;
  read.SetHomeDirectory(TempDir());
  if (read.ReadINIFile(input) == 1 && read.WriteINIFile(first) == 1) {
    vexo::AppSettings again;
    again.SetHomeDirectory(TempDir());
    if (again.ReadINIFile(first) != 1 || again.WriteINIFile(second) != 1) std::abort();
    if (ReadFile(first) != ReadFile(second)) std::abort();
  }
  vexo::ErrorPool::Instance().Clear();
  return 0;
}
