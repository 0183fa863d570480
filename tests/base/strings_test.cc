#include "base/strings.h"

#include <gtest/gtest.h>

namespace vexo {
namespace {

TEST(StringTable, LinesGiveTextsWithTheirEscapesAndOthersAreSkipped) {
  StringTable table;
  table.Parse("# comment\n1\ta\\tb\\nc\\rd\\\\e\\qf\nnot a line\n2\tlast");
  EXPECT_EQ(table.Size(), 2u);
  EXPECT_EQ(table.Find(1), "a\tb\nc\rd\\e\\qf");  // an unknown escape stays as written
  EXPECT_EQ(table.Find(2), "last");
  EXPECT_EQ(table.Find(3), std::nullopt);
}

}  // namespace
}  // namespace vexo
