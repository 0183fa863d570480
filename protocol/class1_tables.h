// The fixed data of Class 1 fax: the thirteen modulations a Class 1 modem can
// offer (their +FTM/+FRM codes, bit rates and DCS rate bits), the T.30 control
// field values, and the bit positions of the DIS and DCS capability bytes.
// FClass1Func and its transmit and receive sessions read them; tests check
// rate choices against them.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>

#include "protocol/session_names.h"

namespace vexo {

// One row of the modulation table. rateBits holds the DCS bits 11 to 14 as a
// four-bit number with bit 11 as its most significant bit (0b0001 = 14400 V.17).
struct Class1Modulation {
  const char* code;  // for AT+FTM / AT+FRM
  std::uint32_t bitRate;
  std::uint8_t rateBits;
  bool longTraining;  // V.17 rows: long (true) or short training
};

inline constexpr std::array<Class1Modulation, 13> kClass1Modulations = {{
    {"3", 300, 0b0000, false},      // V.21 channel 2
    {"24", 2400, 0b0000, false},    // V.27 ter
    {"48", 4800, 0b0100, false},    // V.27 ter
    {"72", 7200, 0b1100, false},    // V.29
    {"96", 9600, 0b1000, false},    // V.29
    {"73", 7200, 0b1101, true},     // V.17 long
    {"74", 7200, 0b1101, false},    // V.17 short
    {"97", 9600, 0b1001, true},     // V.17 long
    {"98", 9600, 0b1001, false},    // V.17 short
    {"121", 12000, 0b0101, true},   // V.17 long
    {"122", 12000, 0b0101, false},  // V.17 short
    {"145", 14400, 0b0001, true},   // V.17 long
    {"146", 14400, 0b0001, false},  // V.17 short
}};

constexpr int kModulationCount = static_cast<int>(kClass1Modulations.size());
constexpr int kModV21 = 0;
constexpr int kMod2400 = 1;
constexpr int kMod4800 = 2;
constexpr int kMod9600V29 = 4;
constexpr int kMod14400Short = 12;

// V.17 rows come in long/short pairs (5/6, 7/8, 9/10, 11/12).
constexpr int ToLongTrain(int index) {
  return (index == 6 || index == 8 || index == 10 || index == 12) ? index - 1 : index;
}
constexpr int ToShortTrain(int index) {
  return (index == 5 || index == 7 || index == 9 || index == 11) ? index + 1 : index;
}

// HDLC framing as exchanged with the modem.
constexpr std::uint8_t kHdlcAddress = 0xFF;
constexpr std::uint8_t kControlFinal = 0x13;
constexpr std::uint8_t kControlMore = 0x03;
constexpr std::uint8_t kCan = 0x18;

// Facsimile control fields, with the T.30 "X" bit (the least significant bit
// of the byte as the modem delivers it) as this system sends them.
namespace fcf {
constexpr std::uint8_t DIS = 0x80;
constexpr std::uint8_t CSI = 0x40;
constexpr std::uint8_t DCS = 0x83;
constexpr std::uint8_t TSI = 0x43;
constexpr std::uint8_t CFR = 0x84;
constexpr std::uint8_t FTT = 0x44;
constexpr std::uint8_t MPS = 0x4F;
constexpr std::uint8_t EOP = 0x2F;
constexpr std::uint8_t EOM = 0x8F;
constexpr std::uint8_t MCF = 0x8C;
constexpr std::uint8_t RTP = 0xCC;
constexpr std::uint8_t RTN = 0x4C;
constexpr std::uint8_t CRP = 0x1A;
constexpr std::uint8_t DCN = 0xFB;
// Error correction mode (T.30 Annex A, T.4 Annex A). FCD and RCP travel in
// the high-speed frames of a partial page; the others on V.21.
constexpr std::uint8_t FCD = 0x06;  // facsimile coded data
constexpr std::uint8_t RCP = 0x86;  // return to control for partial page
constexpr std::uint8_t PPS = 0xBF;  // partial page signal
constexpr std::uint8_t PPR = 0xBC;  // partial page request
constexpr std::uint8_t CTC = 0x13;  // continue to correct
constexpr std::uint8_t CTR = 0xC4;  // response to CTC
constexpr std::uint8_t EOR = 0xCF;  // end of retransmission
constexpr std::uint8_t ERR = 0x1C;  // response to EOR
constexpr std::uint8_t RR = 0x6F;   // receiver ready (a question, after RNR)
constexpr std::uint8_t RNR = 0xEC;  // receive not ready
// The post-page part of PPS and EOR for a partial page that does not end a page.
constexpr std::uint8_t kPpsNull = 0x00;
}  // namespace fcf

// HDLC address and control fields.
constexpr std::uint8_t kAddress = 0xFF;
constexpr std::uint8_t kControlNonFinal = 0x03;

// Whether a received control field is the given frame, whichever station sent
// it: the X bit only tells who sent the frame, so it is not compared.
constexpr bool SameFcf(std::uint8_t received, std::uint8_t frame) {
  return (received | 1) == (frame | 1);
}

// DIS/DCS capability bytes as held internally: each byte bit-reversed, so the
// lowest-numbered T.30 bit of a byte (1, 9, 17, 25) is its most significant
// bit. The fourth byte goes on the line only when one of its bits is set (the
// extend bit 24 then says so); otherwise the frame carries three bytes.
using CapabilityBytes = std::array<std::uint8_t, 4>;

namespace capbit {
constexpr std::uint8_t kReceiverFax = 0x40;  // byte 2, bit 10
constexpr int kRateShift = 2;                // byte 2, bits 11 to 14
constexpr std::uint8_t kRateMask = 0x3C;
constexpr std::uint8_t kFine = 0x02;             // byte 2, bit 15
constexpr std::uint8_t kTwoDim = 0x01;           // byte 2, bit 16
constexpr std::uint8_t kLengthMask = 0x30;       // byte 3, bits 19 and 20
constexpr std::uint8_t kUnlimitedLength = 0x10;  // byte 3, bit 20
constexpr std::uint8_t kB4Length = 0x20;         // byte 3, bit 19 (DIS: A4 and B4)
constexpr int kScanShift = 1;                    // byte 3, bits 21 to 23
constexpr std::uint8_t kScanMask = 0x0E;
constexpr std::uint8_t kExtend = 0x01;       // byte 3, bit 24: a fourth byte follows
constexpr std::uint8_t kEcm = 0x20;          // byte 4, bit 27: error correction mode
constexpr std::uint8_t kEcmFrames64 = 0x10;  // byte 4, bit 28 (DCS): 64-octet ECM frames
constexpr std::uint8_t kT6 = 0x02;           // byte 4, bit 31: T.6 (MMR) coding
}  // namespace capbit

// The bytes of a DIS or DCS as they go on the line: three, or four when the
// fourth holds a bit.
inline std::span<const std::uint8_t> CapabilityField(const CapabilityBytes& bytes) {
  return {bytes.data(), bytes[3] != 0 ? std::size_t{4} : std::size_t{3}};
}

constexpr std::uint8_t RateBitsOf(const CapabilityBytes& bytes) {
  return static_cast<std::uint8_t>((bytes[1] & capbit::kRateMask) >> capbit::kRateShift);
}
constexpr std::uint8_t ScanBitsOf(const CapabilityBytes& bytes) {
  return static_cast<std::uint8_t>((bytes[2] & capbit::kScanMask) >> capbit::kScanShift);
}
constexpr void SetRateBits(CapabilityBytes& bytes, std::uint8_t rate) {
  bytes[1] = static_cast<std::uint8_t>((bytes[1] & ~capbit::kRateMask) |
                                       ((rate << capbit::kRateShift) & capbit::kRateMask));
}

// The DCS scan-time code and time a DIS scan-time code leads to.
struct ScanTimeChoice {
  std::uint8_t normalBits;
  std::uint32_t normalMs;
  std::uint8_t fineBits;
  std::uint32_t fineMs;
};

// Indexed by the DIS bits 21 to 23 (bit 21 most significant).
inline constexpr std::array<ScanTimeChoice, 8> kScanTimes = {{
    {0b000, 20, 0b000, 20},
    {0b001, 40, 0b001, 40},
    {0b010, 10, 0b010, 10},
    {0b010, 10, 0b100, 5},
    {0b100, 5, 0b100, 5},
    {0b001, 40, 0b000, 20},
    {0b000, 20, 0b010, 10},
    {0b111, 0, 0b111, 0},
}};

}  // namespace vexo
