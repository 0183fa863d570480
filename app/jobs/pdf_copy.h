// The PDF copy of a received fax in the folder the setting ReceivePdfDir names:
// "2026-12-09 14-03-22 FarStationId.pdf" (the time of filing and the sender's
// station id, "unknown" without one), " (2)", " (3)", ... before ".pdf" when
// the name is taken. The copy is written under a hidden temporary name and
// linked into place, so a reader never sees half a PDF and no existing file is
// replaced. A copy that cannot be written is reported; the fax itself is never
// touched.
#pragma once

#include <string>
#include <string_view>

#include "platform/clock.h"

namespace vexo {

// The name of the copy (without " (n)"): date, time and sender, with the
// characters a file name cannot hold (or that some file systems refuse)
// replaced by "_".
std::string PdfCopyName(const LocalTime& filed, std::string_view sender);

// Exports tiffFile into dir under PdfCopyName; the path written, or empty
// after a report under "AppOper".
std::string WritePdfCopy(const std::string& tiffFile, const std::string& dir,
                         const LocalTime& filed, std::string_view sender);

}  // namespace vexo
