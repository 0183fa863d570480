// A temporary directory removed with everything in it when the object goes, and
// small file helpers for tests.
#pragma once

#include <filesystem>
#include <string>
#include <string_view>

#include "platform/text.h"

namespace vexo::test {

class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;

  const std::filesystem::path& path() const { return m_path; }
  // The directory as the program's directory values are written: ending in "/".
  std::string dir() const { return m_path.string() + "/"; }

 private:
  std::filesystem::path m_path;
};

std::string ReadFileBytes(const std::filesystem::path& file);
void WriteFileBytes(const std::filesystem::path& file, std::string_view bytes);

// UTF-16LE bytes of ASCII/UTF-8 text, for comparing log files byte for byte.
inline std::string Utf16Le(std::string_view text) { return Utf8ToUtf16LeBytes(text); }

}  // namespace vexo::test
