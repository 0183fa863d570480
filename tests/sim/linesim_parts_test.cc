// Parts of the simulator checked on their own: how command lines are taken
// apart, and the line tap decoding real V.21 control frames made by spandsp.
#include <gtest/gtest.h>
#include <spandsp.h>

#include <array>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "tools/linesim/audio.h"
#include "tools/linesim/command_filter.h"
#include "tools/linesim/t30_monitor.h"

namespace vexo::linesim {
namespace {

TEST(LinesimCommandLine, SplitsIntoSingleCommands) {
  using List = std::vector<std::string>;
  EXPECT_EQ(SplitCommandLine("E0V1Q0X4&K3\\N0%C0"),
            (List{"E0", "V1", "Q0", "X4", "&K3", "\\N0", "%C0"}));
  EXPECT_EQ(SplitCommandLine("S7=45S0?S11"), (List{"S7=45", "S0?", "S11"}));
  EXPECT_EQ(SplitCommandLine("+FCLASS=1;+FTM=?;E0"), (List{"+FCLASS=1", "+FTM=?", "E0"}));
  // Quoted strings keep their spaces and semicolons; elsewhere spaces mean nothing.
  EXPECT_EQ(SplitCommandLine(" +FLID=\"A; B\" ; H0"), (List{"+FLID=\"A; B\"", "H0"}));
  // A dial string runs to the end of the line, spaces and all.
  EXPECT_EQ(SplitCommandLine("X3DT 555 1234;"), (List{"X3", "DT 555 1234;"}));
  EXPECT_TRUE(SplitCommandLine("").empty());
}

// Sends V.21 channel 2 HDLC frames, as a fax modem does, with spandsp's own
// transmitters, and feeds the audio and a little silence after it to the monitor.
void SendBurst(T30Monitor& monitor, Direction direction,
               const std::vector<std::vector<std::uint8_t>>& frames) {
  constexpr int kPreambleFlags = 40;
  constexpr int kBlocksAfterLastFrame = 100;  // 2 s: preamble, the last frame and its flags
  constexpr int kSilentBlocks = 10;
  std::unique_ptr<hdlc_tx_state_t, int (*)(hdlc_tx_state_t*)> hdlc(
      hdlc_tx_init(nullptr, false, 2, false, nullptr, nullptr), &hdlc_tx_free);
  auto getBit = [](void* h) { return hdlc_tx_get_bit(static_cast<hdlc_tx_state_t*>(h)); };
  std::unique_ptr<fsk_tx_state_t, int (*)(fsk_tx_state_t*)> fsk(
      fsk_tx_init(nullptr, &preset_fsk_specs[FSK_V21CH2], getBit, hdlc.get()), &fsk_tx_free);
  std::array<std::int16_t, kBlockSamples> block{};
  auto sendBlock = [&] {
    fsk_tx(fsk.get(), block.data(), static_cast<int>(block.size()));
    monitor.Listen(direction, block);
  };
  hdlc_tx_flags(hdlc.get(), kPreambleFlags);
  // The HDLC transmitter holds one frame at a time; the next waits for room.
  for (const auto& frame : frames)
    while (hdlc_tx_frame(hdlc.get(), frame.data(), frame.size()) != 0) sendBlock();
  for (int i = 0; i < kBlocksAfterLastFrame; ++i) sendBlock();
  block.fill(0);
  for (int i = 0; i < kSilentBlocks; ++i) monitor.Listen(direction, block);
}

// An identifier frame: 20 characters, last one first, padded with spaces.
std::vector<std::uint8_t> IdentFrame(std::uint8_t fcf, const std::string& id) {
  std::vector<std::uint8_t> frame = {0xFF, 0x03, fcf};
  const std::string padded = id + std::string(20 - id.size(), ' ');
  for (auto it = padded.rbegin(); it != padded.rend(); ++it)
    frame.push_back(static_cast<std::uint8_t>(*it));
  return frame;
}

TEST(LinesimLineTap, DecodesASessionFromTheAudio) {
  T30Monitor monitor;
  SendBurst(monitor, Direction::kFromFar,
            {IdentFrame(T30_CSI, "+1 555 9999"), {0xFF, 0x13, T30_DIS, 0x00, 0x6E, 0x1E}});
  // DCS: V.29 9600 bit/s (bit 11), fine (bit 15).
  SendBurst(monitor, Direction::kFromModem,
            {IdentFrame(T30_TSI | 1, "+1 555 0100"), {0xFF, 0x13, T30_DCS | 1, 0x00, 0x44, 0x1E}});
  SendBurst(monitor, Direction::kFromFar, {{0xFF, 0x13, T30_CFR}});
  SendBurst(monitor, Direction::kFromModem, {{0xFF, 0x13, T30_MPS | 1}});
  SendBurst(monitor, Direction::kFromFar, {{0xFF, 0x13, T30_MCF}});
  SendBurst(monitor, Direction::kFromModem, {{0xFF, 0x13, T30_EOP | 1}});
  SendBurst(monitor, Direction::kFromFar, {{0xFF, 0x13, T30_RTN}});  // second page refused
  SendBurst(monitor, Direction::kFromModem, {{0xFF, 0x13, T30_DCN | 1}});

  const T30Observations& seen = monitor.observations();
  EXPECT_EQ(seen.identFromFar, "+1 555 9999");
  EXPECT_EQ(seen.identFromModem, "+1 555 0100");
  EXPECT_EQ(seen.bitRate, 9600);
  EXPECT_EQ(seen.resolution, "fine");
  EXPECT_EQ(seen.pagesConfirmed, 1);
  EXPECT_TRUE(seen.disconnected);

  monitor.Reset();
  EXPECT_EQ(monitor.observations().identFromFar, "");
  EXPECT_EQ(monitor.observations().pagesConfirmed, 0);
}

TEST(LinesimLineTap, CountsOnlyConfirmationsOfPages) {
  T30Monitor monitor;
  const auto frame = [](std::uint8_t fcf) { return std::vector<std::uint8_t>{0xFF, 0x13, fcf}; };
  // An MCF without a post-page message before it (as after a mode change) is no page.
  monitor.OnFrame(Direction::kFromFar, frame(T30_MCF));
  monitor.OnFrame(Direction::kFromModem, frame(T30_MPS | 1));
  monitor.OnFrame(Direction::kFromFar, frame(T30_RTP));  // accepted, retrain
  monitor.OnFrame(Direction::kFromModem, frame(T30_EOP | 1));
  monitor.OnFrame(Direction::kFromFar, frame(T30_MCF));
  monitor.OnFrame(Direction::kFromFar, frame(T30_MCF));  // a repeated answer counts once
  // 14400 bit/s V.17, normal resolution.
  monitor.OnFrame(Direction::kFromModem, {{0xFF, 0x13, T30_DCS | 1, 0x00, 0x20, 0x1E}});
  // Frames too short to hold an FCF are ignored.
  monitor.OnFrame(Direction::kFromModem, std::vector<std::uint8_t>{0xFF, 0x13});
  EXPECT_EQ(monitor.observations().pagesConfirmed, 2);
  EXPECT_EQ(monitor.observations().bitRate, 14400);
  EXPECT_EQ(monitor.observations().resolution, "normal");
}

}  // namespace
}  // namespace vexo::linesim
