// Copies pages of fax files into a new fax file, their coded data unchanged:
// the outbox joins the files of a queued fax into one, and sends the cover
// page again ahead of the pages a partly sent fax still owes.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace vexo {

// A page of a fax file, by its index in the file (from 0).
struct FaxPageRef {
  std::string file;
  std::uint32_t page = 0;
};

// The pages of the files in order, the first file's from page `from` on;
// nullopt when a file is no readable fax file.
std::optional<std::vector<FaxPageRef>> PagesOf(std::span<const std::string> files,
                                               std::uint32_t from = 0);

// Writes the pages, in order, to output (created exclusively). false after a
// report (module "TiffOper"); the output is then removed.
bool CopyFaxPages(std::span<const FaxPageRef> pages, const std::string& output);

}  // namespace vexo
