#include "app/jobs/modem_probe.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <chrono>
#include <filesystem>
#include <memory>
#include <set>
#include <system_error>
#include <thread>
#include <utility>

#include "kernel/fax_kernel.h"
#include "modem/fax_comm_func.h"
#include "modem/final_results.h"
#include "modem/win_com_ce.h"
#include "platform/serial/termios_device.h"
#include "platform/telephony/linux_provider.h"
#include "protocol/class1_tables.h"

namespace vexo {
namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;
using Lines = std::vector<std::string>;

// A port with nothing on it may hold the first command back (no CTS) and
// never answer: both waits are short so that such a port costs about 2 s.
constexpr std::uint32_t kFirstWriteMs = 500;
constexpr std::uint32_t kFirstAnswerMs = 1500;
// The commands after the first, to a modem that answered.
constexpr std::uint32_t kAnswerMs = 3000;
// Echo off (the answers are read without the command) and word results.
constexpr std::string_view kFirstCommand = "ATE0V1";

// The classes in the order a suggestion takes them. Class 1 first: there the
// program runs the fax protocol itself, with error correction and 2-D coding
// under its own control and its own recovery from damaged frames and refused
// pages. Of the service classes, Class 2.0 (the ITU standard) comes before
// Class 2 (a draft that modem makers implemented each in their own way).
constexpr std::uint32_t kSuggestionOrder[] = {kFaxClass1, kFaxClass20, kFaxClass2};

// The words of a list answer such as "0,1,2,2.0" or "(24,48,72,96)".
std::vector<std::string_view> ListWords(std::string_view line) {
  std::vector<std::string_view> words;
  std::size_t start = 0;
  for (std::size_t i = 0; i <= line.size(); ++i) {
    if (i < line.size() && std::string_view(",() ").find(line[i]) == std::string_view::npos)
      continue;
    if (i > start) words.push_back(line.substr(start, i - start));
    start = i + 1;
  }
  return words;
}

std::optional<std::uint32_t> ClassOfWord(std::string_view word) {
  if (word == "1" || word == "1.0") return kFaxClass1;
  if (word == "2") return kFaxClass2;
  if (word == "2.0") return kFaxClass20;
  return std::nullopt;
}

std::vector<std::uint32_t> ParseClasses(const Lines& lines) {
  std::vector<std::uint32_t> classes;
  for (const std::string& line : lines)
    for (const std::string_view word : ListWords(line))
      if (const auto faxClass = ClassOfWord(word);
          faxClass && std::ranges::find(classes, *faxClass) == classes.end())
        classes.push_back(*faxClass);
  return classes;
}

std::vector<std::uint32_t> ParseSpeeds(const Lines& lines) {
  std::set<std::uint32_t> speeds;
  for (const std::string& line : lines)
    for (const std::string_view word : ListWords(line))
      // The page speeds of the Class 1 modulation table; V.21 channel 2
      // carries only the control frames.
      for (int i = 0; i < kModulationCount; ++i)
        if (i != kModV21 && word == kClass1Modulations[static_cast<std::size_t>(i)].code)
          speeds.insert(kClass1Modulations[static_cast<std::size_t>(i)].bitRate);
  return {speeds.begin(), speeds.end()};
}

// The value of an identification answer: "+FMI: \"MAKER\"" or a bare
// "MAKER" gives MAKER.
std::string IdentificationValue(const Lines& lines) {
  if (lines.empty()) return {};
  std::string_view value = lines.front();
  if (value.starts_with('+') && value.find(':') != std::string_view::npos)
    value.remove_prefix(value.find(':') + 1);
  const auto first = value.find_first_not_of(" \"");
  if (first == std::string_view::npos) return {};
  value.remove_prefix(first);
  value = value.substr(0, value.find_last_not_of(" \"") + 1);
  return std::string(value);
}

// What a modem said to one command.
struct Answer {
  bool final = false;  // it ended in a final result
  bool ok = false;     // that result was "OK"
  Lines info;          // the lines before it
};

// The answer to command, read until a final result or timeoutMs. The echo of
// command, should the modem keep echoing, is passed over.
Answer ReadAnswer(WinCOMCE& port, std::string_view command, std::uint32_t timeoutMs) {
  std::array<char*, kResultLinesMax> lines{};
  Answer answer;
  const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
  for (;;) {
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
    if (left <= 0) return answer;
    const int count =
        port.ReadResultA(nullptr, kReadBufferBytes, lines, static_cast<std::uint32_t>(left), false);
    if (count <= 0) return answer;
    for (int i = 0; i < count; ++i) {
      const std::string_view line = lines[static_cast<std::size_t>(i)];
      if (IsFinalResult(line)) {
        answer.final = true;
        answer.ok = line == ResultWord(FinalResult::Ok);
        return answer;
      }
      if (line != command) answer.info.emplace_back(line);
    }
  }
}

// The information lines of the answer to command; nullopt unless it ended in "OK".
std::optional<Lines> Ask(WinCOMCE& port, const char* command) {
  if (!port.WriteCommand(command, kQuiet | kClearInput)) return std::nullopt;
  Answer answer = ReadAnswer(port, command, kAnswerMs);
  if (!answer.ok) return std::nullopt;
  return std::move(answer.info);
}

// The first command, with a short write timeout; whether the modem answered
// it at all (an "ERROR" is an answer too).
bool Answers(WinCOMCE& port) {
  const ScopedComPortTimeouts saved(port, false);
  if (!saved.saved() || !port.SetComPortTimeouts(COMMTIMEOUTS{0, 0, 0, 0, kFirstWriteMs}, false))
    return false;
  const std::string line = std::string(kFirstCommand) + '\r';
  std::uint32_t written = 0;
  if (!port.WriteComDataSYN(Channel::Command, line.data(), static_cast<std::uint32_t>(line.size()),
                            &written, kTransferAll | kQuiet))
    return false;
  return ReadAnswer(port, kFirstCommand, kFirstAnswerMs).final;
}

bool Offers(const ProbeResult& result, std::uint32_t faxClass) {
  return std::ranges::find(result.classes, faxClass) != result.classes.end();
}

// Selects the class and asks for the maker and model; empty answers keep
// what an earlier class gave.
void AskIdentification(WinCOMCE& port, ProbeResult& result, const char* select,
                       const char* makerQuery, const char* modelQuery) {
  if (!Ask(port, select)) return;
  if (const auto maker = Ask(port, makerQuery); maker && !IdentificationValue(*maker).empty())
    result.manufacturer = IdentificationValue(*maker);
  if (const auto model = Ask(port, modelQuery); model && !IdentificationValue(*model).empty())
    result.model = IdentificationValue(*model);
}

void AskModem(WinCOMCE& port, ProbeResult& result) {
  if (const auto identity = Ask(port, "ATI"); identity && !identity->empty())
    result.identity = identity->front();
  if (const auto classes = Ask(port, "AT+FCLASS=?")) result.classes = ParseClasses(*classes);
  if (Offers(result, kFaxClass1) && Ask(port, "AT+FCLASS=1"))
    if (const auto speeds = Ask(port, "AT+FTM=?")) result.class1Speeds = ParseSpeeds(*speeds);
  if (Offers(result, kFaxClass2))
    AskIdentification(port, result, "AT+FCLASS=2", "AT+FMFR?", "AT+FMDL?");
  if (Offers(result, kFaxClass20))
    AskIdentification(port, result, "AT+FCLASS=2.0", "AT+FMI?", "AT+FMM?");
  if (!result.classes.empty()) Ask(port, "AT+FCLASS=0");  // back to data mode
}

ProbeResult ProbeDevice(const std::string& device, std::uint32_t baud) {
  ProbeResult result;
  result.device = device;
  // The device is opened here, so that a port that cannot be opened is told
  // on its line rather than reported once more by the port object.
  int error = 0;
  std::unique_ptr<SerialDevice> opened = TermiosDevice::Open(device, error);
  if (!opened) {
    result.openError = std::generic_category().message(error);
    return result;
  }
  PortEnvironment environment;
  environment.openDevice = [&opened](const std::string&, int&) { return std::move(opened); };
  WinCOMCE port(std::move(environment));
  port.SetBaudRate(baud);
  port.SetOptions({device, "", "", false});
  if (!port.OpenComPort(nullptr, device, 0, "", false)) {
    result.openError = "the line settings were refused";
    return result;
  }
  result.state = ProbeState::NoAnswer;
  if (Answers(port)) {
    result.state = ProbeState::Answered;
    AskModem(port, result);
  }
  port.CloseComPort(false);
  return result;
}

// The entries of dir named prefix and a number, in number order.
std::vector<std::string> NumberedDevices(const std::string& dir, std::string_view prefix) {
  std::vector<std::pair<std::uint32_t, std::string>> found;
  std::error_code error;
  for (const auto& entry : fs::directory_iterator(dir, error)) {
    const std::string name = entry.path().filename().string();
    if (!name.starts_with(prefix)) continue;
    std::uint32_t number = 0;
    const char* end = name.data() + name.size();
    const auto [stop, failure] = std::from_chars(name.data() + prefix.size(), end, number);
    if (failure == std::errc() && stop == end) found.emplace_back(number, entry.path().string());
  }
  std::ranges::sort(found);
  std::vector<std::string> devices;
  for (auto& [number, path] : found) devices.push_back(std::move(path));
  return devices;
}

std::string Joined(const std::vector<std::uint32_t>& values, auto&& text) {
  std::string joined;
  for (const std::uint32_t value : values) joined += (joined.empty() ? "" : ",") + text(value);
  return joined;
}

}  // namespace

std::optional<std::uint32_t> ProbeResult::SuggestedClass() const {
  for (const std::uint32_t faxClass : kSuggestionOrder)
    if (Offers(*this, faxClass)) return faxClass;
  return std::nullopt;
}

std::vector<std::string> SerialDevicesOf(const std::string& devDir) {
  std::vector<std::string> devices;
  for (const SerialLine& line : FindSerialLines(devDir + "/serial/by-id", ""))
    devices.push_back(line.path);
  for (const std::string_view prefix : {"ttyS", "ttyUSB", "ttyACM"})
    for (std::string& path : NumberedDevices(devDir, prefix)) devices.push_back(std::move(path));
  return devices;
}

std::vector<std::string> ProbeDevices(const std::vector<std::string>& serialDevices,
                                      std::string_view telephonyDevices) {
  std::vector<std::string> candidates = serialDevices;
  // The by-id folder given is none: only the TelephonyDevices paths.
  for (const SerialLine& line : FindSerialLines("", telephonyDevices))
    candidates.push_back(line.path);
  // Two names of one device would have their probes lock each other out.
  std::vector<std::string> devices;
  std::set<fs::path> seen;
  for (std::string& path : candidates) {
    std::error_code error;
    const fs::path resolved = fs::weakly_canonical(path, error);
    if (seen.insert(error ? fs::path(path) : resolved).second) devices.push_back(std::move(path));
  }
  return devices;
}

std::vector<ProbeResult> ProbeModems(const std::vector<std::string>& devices, std::uint32_t baud) {
  std::vector<ProbeResult> results(devices.size());
  std::vector<std::jthread> probes;
  for (std::size_t i = 0; i < devices.size(); ++i)
    probes.emplace_back(
        [&results, &devices, baud, i] { results[i] = ProbeDevice(devices[i], baud); });
  probes.clear();  // joins every probe
  return results;
}

std::string FaxClassName(std::uint32_t forceFaxClass) {
  return forceFaxClass == kFaxClass20 ? "2.0" : std::to_string(forceFaxClass);
}

std::string ProbeLine(const ProbeResult& result) {
  std::string line = result.device + "\t";
  if (result.state == ProbeState::NotOpened) return line + "cannot open: " + result.openError;
  if (result.state == ProbeState::NoAnswer) return line + "no answer";
  line += result.identity.empty() ? "answers" : result.identity;
  if (result.classes.empty()) return line + "\tclasses=none";
  line += "\tclasses=" + Joined(result.classes, FaxClassName);
  if (!result.class1Speeds.empty())
    line += "\tspeeds=" +
            Joined(result.class1Speeds, [](std::uint32_t bps) { return std::to_string(bps); });
  if (!result.manufacturer.empty()) line += "\tmaker=" + result.manufacturer;
  if (!result.model.empty()) line += "\tmodel=" + result.model;
  if (const auto faxClass = result.SuggestedClass())
    line += "\tCOMPortDevice=" + result.device + " ForceFaxClass=" + std::to_string(*faxClass);
  return line;
}

}  // namespace vexo
