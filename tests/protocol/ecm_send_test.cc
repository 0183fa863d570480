// The transmitter's side of error correction mode: the HDLC bit stream built
// for AT+FTM (checked against the bytes spandsp's hdlc_tx sends for the same
// frames) and the partial pages a coded page is cut into.
#include <gtest/gtest.h>

#include <vector>

#include "protocol/class1_ecm_send.h"
#include "protocol/hdlc_encoder.h"

namespace vexo {
namespace {

struct EncodedCase {
  const char* name;
  std::vector<std::uint8_t> frame;
  std::size_t preambleFlags;
  std::vector<std::uint8_t> bytes;  // the last completed with ones
};

TEST(HdlcEncoder, FramesAsSpandspSendsThem) {
  const std::vector<EncodedCase> cases = {
      {"Rcp", {0xFF, 0x03, 0x86}, 1, {0x7E, 0xDF, 0x07, 0x18, 0xA6, 0x2D, 0xFB, 0xFD}},
      {"OnesAndFlagInsideAreStuffed",
       {0xFF, 0x03, 0x06, 0x00, 0xFF, 0x7E},
       0,
       {0x7E, 0xDF, 0x07, 0x18, 0x00, 0x7C, 0xF7, 0xA5, 0x9C, 0xE3, 0xF7}},
  };
  for (const EncodedCase& c : cases) {
    SCOPED_TRACE(c.name);
    hdlc::HdlcEncoder encoder;
    encoder.AddFlags(c.preambleFlags);
    encoder.AddFrame(c.frame);
    EXPECT_EQ(encoder.Finish(), c.bytes);
  }
}

TEST(EcmBlocks, PartialPagesHoldAtMost256Frames) {
  const std::vector<std::uint8_t> page(2 * 256 * 64 + 1, 0x55);
  const auto blocks = ecm::SplitBlocks(page, 64);
  ASSERT_EQ(blocks.size(), 3u);
  EXPECT_EQ(blocks[1].size(), 256u * 64);
  EXPECT_EQ(ecm::FrameCount(blocks[2].size(), 64), 1u);
  EXPECT_EQ(ecm::SplitBlocks({}, 256).size(), 1u);
  EXPECT_FALSE(ecm::FramesAsked(std::vector<std::uint8_t>(31, 0xFF), 2));
}

}  // namespace
}  // namespace vexo
