// Fax files that no record names: a record that could not be filed (the store
// locked, damaged or on a full disk) or a program that ended between the call
// and its filing leaves its fax file in TIFDataDir. At start they are filed
// into the Inbox, each with a note saying it was recovered, so that no fax is
// lost from sight. Only files named as the program names fax files ("QX" and
// six digits) that hold readable TIFF pages are taken; the caller makes sure
// that no job (and no send dialog) of the home is writing one meanwhile.
#pragma once

#include <filesystem>
#include <string>

namespace vexo {

class DBFunc;

// Files every unnamed fax file of dataDir into the Inbox: status received,
// pages and resolution read from the file, dated with the file's modification
// time, with note as the note. The number of records filed, or -1 after a
// report when the records could not be read.
int FileOrphanedFaxes(DBFunc& store, const std::filesystem::path& dataDir, const std::string& note);

}  // namespace vexo
