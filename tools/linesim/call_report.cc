#include "tools/linesim/call_report.h"

#include <algorithm>
#include <cstdio>
#include <string_view>

namespace vexo::linesim {
namespace {

// Identifiers are padded with spaces by T.30; reports show them trimmed.
std::string Trim(std::string_view text) {
  const auto first = text.find_first_not_of(' ');
  if (first == std::string_view::npos) return {};
  const auto last = text.find_last_not_of(' ');
  return std::string(text.substr(first, last - first + 1));
}

std::string JsonString(std::string_view text) {
  std::string out = "\"";
  for (const char c : text) {
    const auto u = static_cast<unsigned char>(c);
    if (c == '"' || c == '\\') {
      out += '\\';
      out += c;
    } else if (u < 0x20) {
      char escape[8];
      std::snprintf(escape, sizeof escape, "\\u%04x", u);
      out += escape;
    } else {
      out += c;
    }
  }
  return out + "\"";
}

// Rows per metre of the three T.4 vertical resolutions.
struct ResolutionRow {
  int rowsPerMetre;
  std::string_view name;
};
constexpr ResolutionRow kResolutions[] = {{3850, "normal"}, {7700, "fine"}, {15400, "superfine"}};

template <typename T, typename Format>
std::string Join(const std::vector<T>& items, std::string_view separator, Format format) {
  std::string out;
  for (const auto& item : items) {
    if (!out.empty()) out += separator;
    out += format(item);
  }
  return out;
}

std::string Number(int n) { return std::to_string(n); }

}  // namespace

int FarPagesIntact(const CallReport& report) {
  return static_cast<int>(std::count(report.farBadRows.begin(), report.farBadRows.end(), 0));
}

std::string ResolutionName(int yResolution) {
  for (const auto& row : kResolutions)
    if (row.rowsPerMetre == yResolution) return std::string(row.name);
  return yResolution > 0 ? std::to_string(yResolution) + " rows/m" : "";
}

std::string FormatReportLine(const CallReport& r) {
  std::string line = "call " + std::to_string(r.call) + " " + r.direction + " modem " +
                     std::to_string(r.modem) + (r.direction == "in" ? " <- " : " -> ") + r.far +
                     ": " + r.outcome;
  line += ", " + std::to_string(r.pages) + (r.pages == 1 ? " page" : " pages");
  if (r.pagesRefused > 0) line += " (" + std::to_string(r.pagesRefused) + " refused)";
  if (r.bitRate > 0) line += ", " + std::to_string(r.bitRate) + " bit/s";
  if (!r.resolution.empty()) line += ", " + r.resolution;
  if (!r.coding.empty()) line += std::string(r.ecm ? ", ECM, " : ", no ECM, ") + r.coding;
  if (!r.identSeenByModem.empty()) line += ", modem saw \"" + Trim(r.identSeenByModem) + "\"";
  if (!r.identSeenByFar.empty()) line += ", far saw \"" + Trim(r.identSeenByFar) + "\"";
  if (r.completionCode >= 0)
    line += ", far result " + std::to_string(r.completionCode) + " (" + r.completionText + ")";
  if (!r.farBadRows.empty()) line += ", far bad rows " + Join(r.farBadRows, "/", Number);
  if (!r.faults.empty())
    line += ", faults: " + Join(r.faults, ", ", [](const std::string& s) { return s; });
  char seconds[32];
  std::snprintf(seconds, sizeof seconds, ", %.1f s", r.seconds);
  line += seconds;
  return line;
}

std::string FormatReportJson(const CallReport& r) {
  char seconds[32];
  std::snprintf(seconds, sizeof seconds, "%.1f", r.seconds);
  std::string json = "{";
  json += "\"call\":" + std::to_string(r.call);
  json += ",\"direction\":" + JsonString(r.direction);
  json += ",\"modem\":" + std::to_string(r.modem);
  json += ",\"far\":" + JsonString(r.far);
  json += ",\"number\":" + JsonString(r.number);
  json += ",\"outcome\":" + JsonString(r.outcome);
  json += ",\"pages\":" + std::to_string(r.pages);
  json += ",\"pages_refused\":" + std::to_string(r.pagesRefused);
  json += ",\"far_ident\":" + JsonString(Trim(r.farIdent));
  json += ",\"ident_seen_by_far\":" + JsonString(Trim(r.identSeenByFar));
  json += ",\"ident_seen_by_modem\":" + JsonString(Trim(r.identSeenByModem));
  json += ",\"bit_rate\":" + std::to_string(r.bitRate);
  json += ",\"resolution\":" + JsonString(r.resolution);
  json += std::string(",\"ecm\":") + (r.ecm ? "true" : "false");
  json += ",\"coding\":" + JsonString(r.coding);
  json += ",\"completion_code\":" + std::to_string(r.completionCode);
  json += ",\"completion_text\":" + JsonString(r.completionText);
  json += ",\"seconds\":" + std::string(seconds);
  json += ",\"received_file\":" + JsonString(r.receivedFile);
  json += ",\"faults\":[" + Join(r.faults, ",", JsonString) + "]";
  json += ",\"far_bad_rows\":[" + Join(r.farBadRows, ",", Number) + "]";
  json += ",\"far_pages_intact\":" + std::to_string(FarPagesIntact(r));
  json += "}";
  return json;
}

}  // namespace vexo::linesim
