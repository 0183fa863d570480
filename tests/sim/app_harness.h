// What the tests of whole fax jobs over the line simulator share: a home
// configured with a station id, an AppOper started on it with a device and no
// modem lines of this machine, a job run as the job thread runs it, and the
// records filed in a folder of the home.
#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "app/jobs/app_oper.h"
#include "app/store/fax_record.h"
#include "tests/sim/sim_harness.h"

namespace vexo::test {

// Writes the home's settings file with kSimLocalId as the station id, after
// change (may be empty) had its say.
void ConfigureHome(const std::filesystem::path& home,
                   const std::function<void(AppSettings&)>& change = {});

// Options for an AppOper on home that opens device (empty: the settings'
// choice) and finds its modem lines only in noLines.
AppOperOptions SimAppOptions(const std::filesystem::path& home, const std::string& device,
                             const std::filesystem::path& noLines);

// The AppOper of options, started (a failed start-up is a test failure).
std::unique_ptr<AppOper> StartSimApp(AppOperOptions options);

// Starts the job of kind and runs it to its end; RunJob's result.
int RunAppJob(AppOper& app, std::uint32_t kind);

// The records of folder (FOLDER_SENT, ...) in home, oldest first.
std::vector<FaxRecord> FiledRecords(const std::filesystem::path& home, int folder);

}  // namespace vexo::test
