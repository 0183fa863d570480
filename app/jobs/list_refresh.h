// After a vexo command filed a record, a vexofax running on the same home is
// asked to read its fax list again. vexofax listens on a Unix socket (a
// QLocalServer given the full path below); a client connects and writes the
// line "refreshlist", or "asknumber <id>" for a fax queued without a number,
// which vexofax then asks the user for. The socket lies in the home when its path is short
// enough for a socket address, else in $XDG_RUNTIME_DIR (or /tmp) under a
// name made of the user id and a hash of the home's path.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace vexo {

constexpr const char* kRefreshListLine = "refreshlist\n";
constexpr std::string_view kAskNumberWord = "asknumber ";

// The path of a per-home Unix socket: name in the home when the path fits a
// socket address, else "<fallbackPrefix>-<uid>-<hash of the home>.sock" in
// $XDG_RUNTIME_DIR (or /tmp).
std::string HomeSocketPath(const std::string& homeDirectory, const char* name,
                           const char* fallbackPrefix);

// The socket path vexofax listens on for the home directory.
std::string ListRefreshSocketPath(const std::string& homeDirectory);

// Asks a running vexofax of that home to relist; false when none listens.
bool AskRunningAppToRelist(const std::string& homeDirectory);

// Asks a running vexofax of that home to ask the user for the number of the
// fax held under id in Sending; false when none listens.
bool AskRunningAppForNumber(const std::string& homeDirectory, std::uint32_t id);

// The fax id an "asknumber <id>" line (its line end taken off) names; 0 for
// any other line.
std::uint32_t AskNumberId(std::string_view line);

// Whether a vexofax of that home is running (it listens on the socket).
bool AppRunsOn(const std::string& homeDirectory);

}  // namespace vexo
