// Changes to finished fax TIFF files, done on the file bytes (libtiff cannot
// change a finished file in place): the page numbers of every directory, and
// the replacement of a page's coded data with everything behind it moved and
// every offset fixed. Used by TiffOper when a received file is closed, by the
// document assembler and by code that keeps ink on a filed page.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "document/tiff_lib.h"

namespace vexo {

// Buffer used to move file data, whatever the file size.
constexpr std::size_t kMoveBufferBytes = 4096;

// Rewrites PageNumber of every directory as (index from 0, total). In the same
// pass a RowsPerStrip of 4294967295 (a page written before its length was
// known) becomes the directory's ImageLength. 1, or 0 after a report.
int TIFFUpdateAllPageNum(int fd, const std::string& fileName, std::uint16_t total);
// The same on an open TIFF (its data is flushed first).
int TIFFUpdateAllPageNum(TiffFile& tif, std::uint16_t total);

// Moves the bytes from `from` to the end of the file by delta (the file grows
// or shrinks by delta). 1, or 0 after a report.
int TIFFMoveTiffData(TiffFile& tif, std::uint64_t from, std::int64_t delta);

// After a move: adds delta to every stored offset at or beyond `from`, and sets
// the byte count of `strip` of the current directory (at curDirOffset) to its
// old count plus delta. 1, or 0 after a report.
int ReallocOffset(TiffFile& tif, std::uint64_t curDirOffset, std::uint32_t strip,
                  std::uint64_t from, std::int64_t delta);

// Replaces strip `strip` of the current page (one-strip Group 3 pages only) by
// the coding of cc bytes of rows, moving the rest of the file as needed, then
// reopens tif on the same page. 1, or 0 after a report.
int TIFFUpdateCurPage(TiffFile& tif, std::uint32_t strip, const std::uint8_t* data, std::size_t cc);

// TIFFUpdateCurPage for a filed fax: the page is rewritten in a copy beside the
// file, which then replaces it by rename, so a failure or crash never damages
// the only copy. 1, or 0 after a report.
int UpdateFiledPage(const std::string& path, std::uint16_t pageIndex, const std::uint8_t* data,
                    std::size_t cc);

}  // namespace vexo
