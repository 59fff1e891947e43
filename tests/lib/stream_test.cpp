#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "lib/exceptions.h"
#include "lib/stream.h"

namespace {

std::unique_ptr<TMemoryStream> Bytes(const std::string& text) {
  return std::make_unique<TMemoryStream>(std::vector<uint8_t>(text.begin(), text.end()));
}

std::string ReadText(TStream& stream, int64_t count) {
  std::string text(static_cast<size_t>(count), '\0');
  text.resize(static_cast<size_t>(stream.Read(text.data(), count)));
  return text;
}

TEST(StreamWindowTest, ReadsOnlyItsPartOfTheInnerStream) {
  TStreamWindow window(Bytes("0123456789"), 3, 4);
  EXPECT_EQ(window.Size(), 4);
  EXPECT_EQ(ReadText(window, 3), "345");
  EXPECT_EQ(ReadText(window, 10), "6");
  EXPECT_EQ(ReadText(window, 1), "");
  window.SetPosition(1);
  EXPECT_EQ(ReadText(window, 2), "45");
  window.Seek(-1, SeekOrigin::End);
  EXPECT_EQ(ReadText(window, 5), "6");
  EXPECT_THROW(window.Seek(-1, SeekOrigin::Begin), EStreamError);
  EXPECT_THROW(window.SetSize(0), EStreamError);
  EXPECT_EQ(window.Write("x", 1), 0);
}

TEST(StreamWindowTest, AnInnerStreamShorterThanTheWindowEndsTheRead) {
  TStreamWindow window(Bytes("01234"), 3, 10);
  EXPECT_EQ(ReadText(window, 10), "34");
  std::string buffer(4, '\0');
  window.SetPosition(0);
  EXPECT_THROW(window.ReadBuffer(buffer.data(), 4), EReadError);
}

}  // namespace
