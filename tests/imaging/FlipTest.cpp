#include "imaging/Flip.h"

#include <gtest/gtest.h>

#include <numeric>
#include <string>
#include <vector>

namespace okc::imaging {
namespace {

// Frames written as text, one letter a byte; rows and samples of odd and even count.
TEST(SoftMisc, MirrorsRowsColumnsOrBothAndMovesSamplesWhole) {
  const struct {
    const char* frame;
    int w, h, bytes;
    bool flipRow, flipColumn;
    const char* expected;
  } cases[] = {
      {"ABCDEabcde", 5, 2, 1, true, false, "EDCBAedcba"},
      {"ABCD", 4, 1, 1, true, false, "DCBA"},
      {"abcdef", 2, 3, 1, false, true, "efcdab"},  // middle row stays
      {"abcdefgh", 2, 4, 1, false, true, "ghefcdab"},
      {"abcdefghi", 3, 3, 1, true, true, "ihgfedcba"},
      {"abcd", 2, 2, 1, true, true, "dcba"},
      {"abcdef", 3, 2, 1, false, false, "abcdef"},
      {"AaBbCc", 3, 1, 2, true, false, "CcBbAa"},  // 16-bit samples keep their byte order
      {"AaBbCcDdEeFf", 2, 3, 2, false, true, "EeFfCcDdAaBb"},
      {"AaBbCcDd", 2, 2, 2, true, true, "DdCcBbAa"},
      {"bgrBGR123456", 2, 2, 3, true, true, "456123BGRbgr"},  // 24-bit pixels
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.frame);
    const std::string text = c.frame;
    std::vector<uint8_t> frame(text.begin(), text.end());
    ASSERT_TRUE(SoftMisc(frame, c.w, c.h, c.bytes, c.flipRow, c.flipColumn));
    EXPECT_EQ(std::string(frame.begin(), frame.end()), c.expected);
  }
}

// Each flip is its own inverse on odd and even sizes, and never touches bytes past the frame.
TEST(SoftMisc, FlippingTwiceRestoresTheFrame) {
  for (int bytes : {1, 2, 3})
    for (auto [w, h] : {std::pair{5, 3}, std::pair{4, 6}, std::pair{1, 7}, std::pair{7, 1}})
      for (int mode = 1; mode < 4; ++mode) {
        SCOPED_TRACE(testing::Message() << bytes << " " << w << "x" << h << " mode " << mode);
        std::vector<uint8_t> frame(static_cast<size_t>(w * h * bytes) + 4);
        std::iota(frame.begin(), frame.end(), uint8_t{1});
        const std::vector<uint8_t> original = frame;
        ASSERT_TRUE(SoftMisc(frame, w, h, bytes, mode & 1, mode & 2));
        EXPECT_TRUE(std::equal(frame.end() - 4, frame.end(), original.end() - 4));
        ASSERT_TRUE(SoftMisc(frame, w, h, bytes, mode & 1, mode & 2));
        EXPECT_EQ(frame, original);
      }
}

TEST(SoftMisc, BadSizesAreRefusedWithoutTouchingTheFrame) {
  std::vector<uint8_t> frame = {1, 2, 3, 4, 5, 6};
  EXPECT_FALSE(SoftMisc(frame, 4, 2, 1, true, true));  // 8 bytes needed
  EXPECT_FALSE(SoftMisc(frame, 2, 2, 2, true, false));
  EXPECT_FALSE(SoftMisc(frame, 0, 2, 1, true, false));
  EXPECT_FALSE(SoftMisc(frame, 3, -2, 1, false, true));
  EXPECT_FALSE(SoftMisc(frame, 3, 2, 0, true, false));
  EXPECT_FALSE(SoftMisc(frame, 1, 1, 5, true, false));
  EXPECT_FALSE(SoftMisc(frame, 1 << 30, 1 << 30, 2, true, false));  // a size that overflows
  EXPECT_EQ(frame, (std::vector<uint8_t>{1, 2, 3, 4, 5, 6}));
}

}  // namespace
}  // namespace okc::imaging
