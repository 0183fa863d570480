// Class 1 capability negotiation: the modem's modulations, the rate choice
// from a DIS, the DCS accepted by the receiver, the receiver's own DIS, the
// fallback order and the CSI/TSI identifier fields.
#include <algorithm>
#include <array>
#include <cstring>
#include <optional>

#include "base/code_page.h"
#include "base/error_pool.h"
#include "document/tiff_oper.h"
#include "modem/byte_tables.h"
#include "modem/win_com_ce.h"
#include "protocol/class1_func.h"
#include "protocol/class1_session.h"

namespace vexo {

using namespace class1;

namespace {

constexpr std::uint32_t kQueryWaitMs = 10000;
// The row of kScanTimes for 0 ms (DIS bits 21 to 23 all set).
constexpr std::uint8_t kScanZeroMs = 0b111;

// The DCS recording length for a page: A4 (bits 19 and 20 clear) when the page
// fits it; a longer page takes unlimited length or B4, whichever the DIS
// offers, and A4 when it offers neither (nullopt: the far end cuts or shrinks it).
std::optional<std::uint8_t> DcsLengthBits(std::uint8_t offered, bool longPage) {
  if (!longPage) return 0;
  switch (offered & capbit::kLengthMask) {
    case capbit::kUnlimitedLength:
      return capbit::kUnlimitedLength;
    case capbit::kB4Length:
      return capbit::kB4Length;
    default:
      return std::nullopt;
  }
}

// Highest modulation a DIS rate code allows (bits 11 to 14, bit 11 first).
int HighestForDisRate(std::uint8_t rate) {
  switch (rate) {
    case 0b0000:
      return 1;
    case 0b0100:
      return 2;
    case 0b1000:
    case 0b1100:
    case 0b1110:
      return 4;
    case 0b1101:
      return 12;
    default:
      return 1;
  }
}

struct DcsRate {
  std::uint8_t rate;
  int modulation;
};
constexpr std::array<DcsRate, 9> kDcsRates = {{
    {0b0000, 1},
    {0b0001, 12},
    {0b0100, 2},
    {0b0101, 10},
    {0b1000, 4},
    {0b1001, 8},
    {0b1100, 3},
    {0b1101, 6},
    {0b1110, 4},
}};

// The DIS rate code for the sum BuildDIS forms from the offered rows.
struct DisSum {
  int sum;
  std::uint8_t rate;
};
constexpr std::array<DisSum, 5> kDisSums = {{
    {14, 0b1100},
    {6, 0b0100},
    {8, 0b1000},
    {30, 0b1110},
    {62, 0b1101},
}};

CapabilityBytes CapabilityOf(const Class1Item& frame) {
  CapabilityBytes bytes{};
  const auto fif = frame.Fif();
  for (std::size_t i = 0; i < bytes.size() && i < fif.size(); ++i) bytes[i] = kBitReverse[fif[i]];
  return bytes;
}

// What a received DCS settles: its fourth byte counts only after the extend bit.
LinkCoding LinkOfDcs(const CapabilityBytes& dcs) {
  const std::uint8_t fourth = (dcs[2] & capbit::kExtend) ? dcs[3] : 0;
  LinkCoding link;
  link.ecm = (fourth & capbit::kEcm) != 0;
  link.frameBytes = (fourth & capbit::kEcmFrames64) ? 64 : 256;
  if (fourth & capbit::kT6)
    link.coding = FaxCoding::kMmr;
  else if (dcs[1] & capbit::kTwoDim)
    link.coding = FaxCoding::kMr;
  return link;
}

}  // namespace

int FClass1Func::QueryBRCap(ModulationQuery direction) {
  constexpr const char* kFunction = "QueryBRCap";
  if (m_port == nullptr) return 0;
  if (!m_port->WriteCommand(direction == ModulationQuery::kTransmit ? "AT+FTM=?" : "AT+FRM=?", 0))
    return 0;
  // The list and the final result may come in separate reads, and a read may
  // end inside the list: until the final result has come, the last line is
  // kept in the buffer and read again with what follows it.
  std::vector<std::string> lines;
  std::string pending;
  std::array<char*, kResultLinesMax> found{};
  const std::uint32_t start = TickCountMs();
  for (;;) {
    const std::uint32_t spent = TickCountMs() - start;
    const int count =
        spent >= kQueryWaitMs
            ? 0
            : m_port->ReadResultExxA(m_lineBuffer.data(), pending.size(), m_lineBuffer.size(),
                                     found, kQueryWaitMs - spent, 0, true);
    if (count <= 0) {
      if (!pending.empty()) lines.push_back(pending);
      break;
    }
    bool final = false;
    for (int i = 0; i < count; ++i) {
      const int word = ClassifyResult(found[i]);
      final = final || word == kWordOk || word == kWordError;
    }
    const int taken = final ? count : count - 1;
    for (int i = 0; i < taken && lines.size() < kResultLinesMax; ++i) lines.emplace_back(found[i]);
    pending = final ? std::string() : std::string(found[count - 1]);
    if (final || lines.size() >= kResultLinesMax || pending.size() >= m_lineBuffer.size() / 2) {
      if (!pending.empty()) lines.push_back(pending);
      break;
    }
    std::memmove(m_lineBuffer.data(), pending.data(), pending.size());
  }
  if (lines.empty()) {
    Report(kFunction, kTimeoutText);
    return 0;
  }
  return AnalysisMod(lines);
}

int FClass1Func::AnalysisMod(const std::vector<std::string>& lines) {
  constexpr const char* kFunction = "AnalysisMod";
  m_modulationSet = 0;
  for (const std::string& line : lines) {
    if (ClassifyResult(line) == kWordOk) continue;  // the final result, not a list
    m_modulationSet = 0;
    int lowest = -1;
    int highest = -1;
    for (int i = 0; i < kModulationCount; ++i) {
      if (line.find(kClass1Modulations[i].code) == std::string::npos) continue;
      m_modulationSet |= 1u << i;
      if (lowest < 0) lowest = i;
      highest = i;
    }
    if (lowest >= 0) {
      m_lowest = lowest;
      m_highest = highest;
    }
    if (m_modulationSet > 1u) break;
  }
  if (m_modulationSet == 1u) {
    Report(kFunction,
           "The fax modem can not do the fax function if it only support V.21 modulation.");
    return 0;
  }
  if (m_modulationSet == 0) {
    Report(kFunction, "Cannot determine FAX modem speed modulation supported.");
    return 0;
  }
  if (m_lowest != kModV21) {
    m_modulationSet |= 1u;
    m_lowest = kModV21;
  }
  return 1;
}

int FClass1Func::AnalysisDIS(const Class1Item& dis, std::uint32_t pageFlags, CapabilityBytes& dcs) {
  constexpr const char* kFunction = "AnalysisDIS";
  if (!dis.Final()) {
    Report(kFunction, "DIS not the final frame.");
    return 0;
  }
  const CapabilityBytes offered = CapabilityOf(dis);
  if (!(offered[1] & capbit::kReceiverFax)) {
    Report(kFunction, "Remote receiver do not have the capability to receive.");
    return 0;
  }
  int chosen = HighestForDisRate(RateBitsOf(offered));
  while (chosen > kModV21 && !Offers(chosen)) --chosen;
  if (chosen <= kModV21) {
    Report(kFunction, "No suitable speed to communication with remote fax machine.");
    return 0;
  }
  m_modulation = chosen;
  m_remoteFine = (offered[1] & capbit::kFine) != 0;
  const bool finePage = (pageFlags & PAGE_FINE) != 0;

  m_link = ChooseLink(offered);
  dcs = {};
  dcs[1] = capbit::kReceiverFax;
  SetRateBits(dcs, kClass1Modulations[chosen].rateBits);
  if (m_remoteFine && finePage) dcs[1] |= capbit::kFine;
  if (m_link.coding == FaxCoding::kMr) dcs[1] |= capbit::kTwoDim;
  // With ECM the receiver needs no fill (0 ms): its frames are checked, not timed.
  const ScanTimeChoice& scan = kScanTimes[m_link.ecm ? kScanZeroMs : ScanBitsOf(offered)];
  const std::uint8_t scanBits = finePage ? scan.fineBits : scan.normalBits;
  m_minScanMs = finePage ? scan.fineMs : scan.normalMs;
  const std::optional<std::uint8_t> length =
      DcsLengthBits(offered[2], (pageFlags & PAGE_LONG) != 0);
  if (!length) Report(kFunction, "page length not supported by the far end");
  dcs[2] = static_cast<std::uint8_t>(length.value_or(0) | (scanBits << capbit::kScanShift));
  if (m_link.ecm) dcs[3] |= capbit::kEcm;
  if (m_link.coding == FaxCoding::kMmr) dcs[3] |= capbit::kT6;
  if (dcs[3] != 0) dcs[2] |= capbit::kExtend;
  return 1;
}

// The best both sides share within the settings: ECM when the DIS offers it,
// then MMR (only with ECM), MR, or MH. A page stored in another coding is
// coded again for the line when it is sent.
LinkCoding FClass1Func::ChooseLink(const CapabilityBytes& offered) const {
  const bool extended = (offered[2] & capbit::kExtend) != 0;
  LinkCoding link;
  link.ecm = m_ecmAllowed && extended && (offered[3] & capbit::kEcm) != 0;
  if (link.ecm && m_highestCoding == FaxCoding::kMmr && (offered[3] & capbit::kT6) != 0)
    link.coding = FaxCoding::kMmr;
  else if (m_highestCoding != FaxCoding::kMh && (offered[1] & capbit::kTwoDim) != 0)
    link.coding = FaxCoding::kMr;
  return link;
}

int FClass1Func::AnalysisDCS(const Class1Item& dcsFrame) {
  constexpr const char* kFunction = "AnalysisDCS";
  if (!dcsFrame.Final()) {
    Report(kFunction, "DCS not the final frame.");
    return 0;
  }
  const CapabilityBytes dcs = CapabilityOf(dcsFrame);
  const std::uint8_t rate = RateBitsOf(dcs);
  const auto row = std::find_if(kDcsRates.begin(), kDcsRates.end(),
                                [rate](const DcsRate& r) { return r.rate == rate; });
  if (row == kDcsRates.end()) {
    Report(kFunction, "Unknown data rate code inside DIS frame.");
    return 0;
  }
  const LinkCoding link = LinkOfDcs(dcs);
  if (link.coding == FaxCoding::kMr && m_highestCoding == FaxCoding::kMh) {
    Report(kFunction, "Application can not support 2D-Coding.");
    return 0;
  }
  // Only what our DIS offered is taken: ECM when it was allowed, MMR only
  // with ECM and when allowed.
  if ((link.ecm && !m_ecmAllowed) ||
      (link.coding == FaxCoding::kMmr && (!link.ecm || m_highestCoding != FaxCoding::kMmr))) {
    Report(kFunction, "The remote fax machine asked for a coding or error correction not offered.");
    return 0;
  }
  m_link = link;
  m_modulation = row->modulation;
  m_fine = (dcs[1] & capbit::kFine) != 0;
  m_pageWidth = kFaxPageWidth;
  return 1;
}

void FClass1Func::BuildDIS(CapabilityBytes& dis) const {
  const bool a = Offers(1);
  const bool b = Offers(2);
  const bool c = Offers(3) || Offers(4);
  const bool d = Offers(5) || Offers(6) || Offers(7) || Offers(8);
  const bool e = Offers(9);
  const bool f = Offers(10);
  int sum = (a && b) ? 6 : b ? 4 : a ? 2 : 0;
  if (c) sum += 8;
  if (e && f) {
    sum += 48;
  } else if (f) {
    sum += 32;
  } else if (e) {
    sum += 16 + (d ? 32 : 0);
  } else if (d) {
    sum += 32;
  }
  // A combination the table does not name still offers the best plain rate
  // the modem has, never 2400 bit/s only.
  std::uint8_t rate = c ? 0b1100 : (a && b) ? 0b0100 : 0b0000;
  for (const DisSum& entry : kDisSums)
    if (entry.sum == sum) rate = entry.rate;

  dis = {};
  dis[1] = capbit::kReceiverFax | capbit::kFine;
  SetRateBits(dis, rate);
  dis[2] = capbit::kUnlimitedLength | (0b111 << capbit::kScanShift);
  if (m_highestCoding != FaxCoding::kMh) dis[1] |= capbit::kTwoDim;
  if (m_ecmAllowed) {
    dis[3] |= capbit::kEcm;
    if (m_highestCoding == FaxCoding::kMmr) dis[3] |= capbit::kT6;
  }
  if (dis[3] != 0) dis[2] |= capbit::kExtend;
}

int FClass1Func::FallBack(CapabilityBytes& dcs) {
  int next = ToLongTrain(m_modulation) - 1;
  while (next > kModV21 && !Offers(next)) --next;
  if (next <= kModV21) return 0;
  m_modulation = next;
  SetRateBits(dcs, kClass1Modulations[next].rateBits);
  return 1;
}

StationIdField FClass1Func::BuildStationIdField(std::string_view localIdUtf8) {
  StationIdField field;
  field.fill(' ');
  std::string id = WideToMultiLossy(localIdUtf8);
  if (id.size() > kStationIdBytes) id.resize(kStationIdBytes);
  // Spaces first, then the identifier last character first.
  std::copy(id.rbegin(), id.rend(), field.end() - static_cast<std::ptrdiff_t>(id.size()));
  return field;
}

std::string FClass1Func::DecodeStationId(std::span<const std::uint8_t> fif) {
  std::size_t at = 0;
  while (at < fif.size() && (fif[at] == ' ' || fif[at] == '\t')) ++at;
  std::string id;
  while (at < fif.size() && id.size() < kStationIdBytes) {
    const std::uint8_t c = fif[at++];
    if (c < 0x20 || c == 0x7F) break;
    id.push_back(static_cast<char>(c));
  }
  while (!id.empty() && (id.back() == ' ' || id.back() == '\t')) id.pop_back();
  std::reverse(id.begin(), id.end());
  return MultiToWideLossy(id);
}

}  // namespace vexo
