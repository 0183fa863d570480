// The receiver's side of error correction mode: HDLC frames found in the raw
// data of AT+FRM, the partial page that collects them, and a call on the
// scripted modem whose partial page misses a frame until PPR brings it.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "document/fax_coding.h"
#include "document/tiff_oper.h"
#include "protocol/class1_ecm_send.h"
#include "protocol/ecm_block.h"
#include "protocol/hdlc_decoder.h"
#include "protocol/hdlc_encoder.h"
#include "tests/protocol/class1_test_util.h"
#include "tests/support/temp_dir.h"

namespace vexo {
namespace {

using namespace test;
using Bytes = std::vector<std::uint8_t>;

Bytes Encoded(const Bytes& frame) {
  hdlc::HdlcEncoder encoder;
  encoder.AddFrame(frame);
  return encoder.Finish();
}

TEST(HdlcDecoder, FindsFramesAndDropsWhatIsNone) {
  // Bytes whose ones need inserted zeros, and a frame spanning many reads.
  const Bytes stuffed = {0xFF, 0x03, 0x06, 0x00, 0x7E, 0xFF, 0x3F, 0x7D, 0xFC};
  const Bytes plain = {0xFF, 0x03, 0x86};
  Bytes damaged = Encoded({0x01, 0x02, 0x04, 0x08, 0x10});  // no inserted zeros ahead of the FCS
  damaged[2] ^= 0x01;
  Bytes aborted = {0x7E, 0x12, 0x34, 0xFF};  // a frame broken off by eight ones
  const Bytes after = Encoded(plain);
  aborted.insert(aborted.end(), after.begin(), after.end());
  const Bytes tooLong(hdlc::HdlcDecoder::kMaxFrameBytes, 0x11);
  const struct {
    const char* name;
    Bytes input;
    std::size_t readBytes;
    std::vector<std::pair<Bytes, bool>> frames;
  } cases[] = {
      {"good", Encoded(plain), 64, {{plain, true}}},
      {"stuffed", Encoded(stuffed), 64, {{stuffed, true}}},
      {"split", Encoded(stuffed), 1, {{stuffed, true}}},
      {"bad FCS", damaged, 64, {{{0x01, 0x03, 0x04, 0x08, 0x10}, false}}},
      {"abort", aborted, 64, {{plain, true}}},
      {"too long", Encoded(tooLong), 64, {}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    std::vector<std::pair<Bytes, bool>> got;
    hdlc::HdlcDecoder decoder([&](std::span<const std::uint8_t> frame, bool good) {
      got.emplace_back(Bytes(frame.begin(), frame.end()), good);
    });
    for (std::size_t at = 0; at < c.input.size(); at += c.readBytes)
      decoder.Feed(std::span(c.input).subspan(at, std::min(c.readBytes, c.input.size() - at)));
    EXPECT_EQ(got, c.frames);
  }
}

Bytes Fcd(std::uint8_t number, std::size_t bytes) {
  Bytes frame = {kHdlcAddress, kControlNonFinal, fcf::FCD, number};
  frame.resize(4 + bytes, number);
  return frame;
}

TEST(EcmBlock, CountsMissingFramesAndRejectsBadOnesOnce) {
  EcmBlock block(64);
  for (const std::uint8_t n : {0, 1, 3, 5}) block.Take(Fcd(n, 64));
  block.Take(Fcd(2, 65));
  block.Take(Fcd(2, 65));
  block.SetFrameCount(4);
  EXPECT_FALSE(block.Complete());
  EXPECT_EQ(block.MissingMap()[0], 0x04);  // frame 2, as PPR names it
  EXPECT_EQ(block.TakeNewFaults(), EcmBlock::kFrameTooLong | EcmBlock::kNumberBeyondCount);
  block.Take(Fcd(6, 64));
  EXPECT_EQ(block.TakeNewFaults(), 0u);
  block.Take(Fcd(2, 64));
  ASSERT_TRUE(block.Complete());
  Bytes data;
  block.AppendData(data);
  ASSERT_EQ(data.size(), 4u * 64);
  EXPECT_EQ(data[2 * 64], 2);
}

const std::string kConnect = "\r\nCONNECT\r\n";
const std::string kOk = "\r\nOK\r\n";
const std::string kEnd = "\x10\x03\r\nNO CARRIER\r\n";

// A page of noise, so that MMR needs many 64-octet frames.
FaxBitmap NoisePage() {
  FaxBitmap page{1728, 6, {}};
  page.bits.resize(page.rows * page.Stride());
  for (std::size_t i = 0; i < page.bits.size(); ++i)
    page.bits[i] = static_cast<std::uint8_t>((i * 2654435761u) >> 13);
  return page;
}

// The frames of block that frames names on the high-speed carrier, as the
// modem delivers them after AT+FRM.
std::string Burst(const Bytes& block, const ecm::FrameSet& frames) {
  std::string out = kConnect;
  for (const std::uint8_t b : ecm::BlockTransmission(block, 64, frames, 20)) {
    if (b == kDle) out.push_back(static_cast<char>(kDle));
    out.push_back(static_cast<char>(b));
  }
  return out + kEnd;
}

// A partial page arrives at 14400 bit/s without its frame 1; PPR names it,
// and the caller sends it again (or first steps down to 9600 bit/s with CTC:
// CTR, and the frame comes with long training). The page is filed in MMR as
// sent; a page that does not decode is not confirmed and not filed.
TEST(Class1EcmReceive, AFrameMissingIsAskedForWithPprAndOnlyAPageThatDecodesIsFiled) {
  const FaxBitmap bitmap = NoisePage();
  enum class Case { kResent, kResentAfterCtc, kBroken };
  for (const Case step : {Case::kResent, Case::kResentAfterCtc, Case::kBroken}) {
    SCOPED_TRACE(static_cast<int>(step));
    const bool decodes = step != Case::kBroken;
    Bytes block = decodes ? EncodeFaxPage(bitmap, FaxCoding::kMmr, false, true) : Bytes(200, 0);
    for (std::uint8_t& b : block) b = kBitReverse[b];
    const std::size_t frames = ecm::FrameCount(block.size(), 64);
    ASSERT_GT(frames, 2u);
    ecm::FrameSet allButOne;
    for (std::size_t n = 0; n < frames; ++n) allButOne.set(n, n != 1);

    test::TempDir dir;
    const std::string file = (dir.path() / "QX000001.tif").string();
    Class1PtyRig rig;
    rig.fax.SetTimeouts({.dcsPass = 150, .postPageMessage = 1500});
    rig.fax.SetCodingLimits(true, FaxCoding::kMmr);
    CapabilityBytes dcs{};
    dcs[1] = capbit::kReceiverFax;
    SetRateBits(dcs, 0b0001);
    dcs[2] = capbit::kExtend;
    dcs[3] = capbit::kEcm | capbit::kEcmFrames64 | capbit::kT6;
    const StationIdField csi = FClass1Func::BuildStationIdField("5550100");
    const Bytes pps = {fcf::EOP, 0, 0, static_cast<std::uint8_t>(frames - 1)};
    const auto ours = [&](std::uint8_t response, const Bytes& fif = {}) {
      rig.modem.Answer("AT+FTH=3\r", kConnect).Expect(WrittenFrame(true, response, fif)).Send(kOk);
    };
    rig.modem.Answer("AT+FRM=?\r", "\r\n24,48,72,73,74,96,97,98,121,122,145,146\r\n\r\nOK\r\n")
        .Answer("ATA\r", kConnect)
        .Expect(WrittenFrame(false, fcf::CSI, Bytes(csi.begin(), csi.end())))
        .Send(kConnect)
        .Expect("\x10\x03")
        .Send(kOk)
        .Answer("AT+FRH=3\r", kConnect + ModemFrame(true, fcf::DCS, OnLine(dcs)))
        .Answer("AT+FRM=145\r", kConnect + std::string(2700, '\0') + kEnd);
    ours(fcf::CFR);
    rig.modem.Answer("AT+FRM=146\r", Burst(block, allButOne))
        .Answer("AT+FRH=3\r", kConnect + ModemFrame(true, fcf::PPS, pps));
    Bytes map(32, 0);
    map[0] = 0x02;
    ours(fcf::PPR, map);
    if (step == Case::kResentAfterCtc) {
      CapabilityBytes slower = dcs;
      SetRateBits(slower, 0b1001);
      rig.modem.Answer("AT+FRM=146\r", "\r\n+FCERROR\r\n")
          .Answer("AT+FRH=3\r", kConnect + ModemFrame(true, fcf::CTC, {0, OnLine(slower)[1]}));
      ours(fcf::CTR);
    }
    rig.modem
        .Answer(step == Case::kResentAfterCtc ? "AT+FRM=97\r" : "AT+FRM=146\r",
                Burst(block, ecm::FrameSet().set(1)))
        .Answer("AT+FRH=3\r", kConnect + ModemFrame(true, fcf::PPS, pps));
    if (decodes) {
      ours(fcf::MCF);
      rig.modem.Answer("AT+FRH=3\r", kConnect + ModemFrame(true, fcf::DCN));
    } else {
      rig.modem.Answer("ATH0\r", kOk);
    }

    ASSERT_TRUE(rig.Start());
    FaxResult result;
    EXPECT_EQ(rig.fax.ReceiveFAXClass1(file, "5550100", &result),
              decodes ? kSessionDone : kSessionFailed);
    EXPECT_TRUE(rig.modem.Finish()) << rig.modem.Failure();
    EXPECT_EQ(result.pagesTransferred, decodes ? 1u : 0u);
    const std::vector<std::string> reports = TakeMessages();
    ASSERT_FALSE(reports.empty());
    EXPECT_EQ(reports.back(), decodes ? "PPR: 1 of " + std::to_string(frames) + " frames missing"
                                      : "The MMR page received does not decode; it is not kept.");
    if (!decodes) continue;
    TiffOper tiff;
    ASSERT_EQ(tiff.OpenReadTiffHeader(file), 1);
    ASSERT_EQ(tiff.ReadTags(), 1);
    EXPECT_EQ(CodingOfPageFlags(tiff.PageInfo().flags), FaxCoding::kMmr);
    const auto strip = tiff.ReadPageStrip();
    ASSERT_TRUE(strip);
    const auto decoded = DecodeFaxPage(*strip, FaxCoding::kMmr, 1728, false);
    ASSERT_TRUE(decoded);
    EXPECT_EQ(decoded->bitmap.bits, bitmap.bits);
  }
}

}  // namespace
}  // namespace vexo
