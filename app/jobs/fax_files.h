// Names of the fax files the program makes in TIFDataDir: received faxes and
// the faxes the send dialog composes are "QX", six base-36 digits of the
// running number TiffAutoNumber, ".tif". A new name is never one already in
// use: the number steps past existing files, and it is written to the
// settings file as soon as it changes, so a crash or a second process cannot
// hand out the same name twice.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace vexo {

struct AppSettings;

// How many different names there are; numbers wrap around at this value.
constexpr std::uint32_t kFaxNameCount = 36u * 36u * 36u * 36u * 36u * 36u;

// "QX" + six digits (alphabet A-Z then 0-9, most significant first) + ".tif".
std::string ReceivedFileName(std::uint32_t number);

// Whether name (without directory) has the shape ReceivedFileName gives.
bool IsFaxFileName(std::string_view name);

// What a fax file of ours says of itself: its pages and whether the first
// page is in fine resolution.
struct FaxFileSummary {
  std::uint32_t pages = 0;
  bool fine = false;
};
// nullopt when path is no readable TIFF with at least one page.
std::optional<FaxFileSummary> ReadFaxFileSummary(const std::string& path);

// The full path of a new fax file in settings.TIFDataDir, and TiffAutoNumber
// advanced past it (in settings and in the settings file). With create the
// file is made (empty, exclusively) so nobody else can take the name; else
// only a name no file has yet is chosen (for a writer that creates it
// exclusively itself). Empty, with a report under "AppOper", when none can
// be had.
std::string NewFaxFile(AppSettings& settings, bool create);

}  // namespace vexo
