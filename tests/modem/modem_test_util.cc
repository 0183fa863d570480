#include "tests/modem/modem_test_util.h"

#include <regex>

namespace vexo::test {

std::vector<ErrorRecord> TakeErrors() {
  std::vector<ErrorRecord> records;
  ErrorRecord record;
  while (ErrorPool::Instance().TakeOldest(record) > 0) records.push_back(record);
  return records;
}

std::vector<std::string> TakeMessages() {
  std::vector<std::string> messages;
  for (const auto& record : TakeErrors()) messages.push_back(record.message);
  return messages;
}

std::string LogText(const std::string& bytes) {
  if (bytes.size() < 2 || bytes.size() % 2 != 0 || bytes.compare(0, 2, "\xFF\xFE") != 0) return {};
  std::string text;
  for (std::size_t i = 2; i < bytes.size(); i += 2) {
    if (bytes[i + 1] != 0 || static_cast<unsigned char>(bytes[i]) > 0x7F) return {};
    text += bytes[i];
  }
  return text;
}

std::string WithStamps(const std::string& expected, const std::string& actual) {
  static const std::regex kStamp(R"(\[\d{4}/\d{2}/\d{2} - \d{2}:\d{2}:\d{2}:\d{3}\])");
  std::vector<std::string> stamps;
  for (auto it = std::sregex_iterator(actual.begin(), actual.end(), kStamp);
       it != std::sregex_iterator(); ++it)
    stamps.push_back(it->str());
  // Literal stamps in expected count as places too, so the n-th place of
  // expected takes the n-th stamp of actual.
  std::string out;
  std::size_t next = 0;
  std::size_t i = 0;
  while (i < expected.size()) {
    std::smatch match;
    const std::string rest = expected.substr(i, 27);
    if (expected.compare(i, 3, "{T}") == 0) {
      out += next < stamps.size() ? stamps[next] : std::string("{missing stamp}");
      ++next;
      i += 3;
    } else if (std::regex_match(rest, match, kStamp)) {
      out += rest;
      ++next;
      i += rest.size();
    } else {
      out += expected[i++];
    }
  }
  return out;
}

FakePortRig::FakePortRig(std::uint32_t capabilities)
    : line(MakeFakeLine(capabilities)), dataLine(MakeFakeLine(capabilities)) {
  PortEnvironment env;
  env.openDevice = [this](const std::string& path, int& error) -> std::unique_ptr<SerialDevice> {
    opened.push_back(path);
    if (failOpens > 0) {
      --failOpens;
      error = ENOENT;
      return nullptr;
    }
    return std::make_unique<FakeSerialDevice>(path == "/dev/phone-data" ? dataLine : line);
  };
  env.sleep = [this](std::uint32_t ms) { sleeps.push_back(ms); };
  port = std::make_unique<WinCOMCE>(env);
  port->SetOptions({"/dev/fake-modem", "/dev/phone-cmd", "/dev/phone-data", false});
}

bool FakePortRig::OpenNamed() {
  const bool ok = port->OpenComPort(nullptr, "COM3:", 0, "", 0) == 1;
  TakeErrors();
  return ok;
}

}  // namespace vexo::test
