// The run's log and the messages of stream and system errors, which the
// log and the error boxes show.
#include "lib/run_log.h"

#include <gtest/gtest.h>

#include <vector>

#include "lib/exceptions.h"
#include "lib/stream.h"
#include "lib/system.h"

namespace {

TEST(RunLog, LinesReachTheSinkOnlyWhileOneIsSet) {
  std::vector<std::string> lines;
  RunLog(u"before");
  EXPECT_FALSE(RunLogEnabled());
  SetRunLogSink([&](StringView line) { lines.push_back(Utf16ToUtf8(String(line))); });
  EXPECT_TRUE(RunLogEnabled());
  RunLog(u"one");
  RunLog(u"C:\\a\r\nSystem Error.\r\n\r\nlast\n");
  RunLog(u"cr\rlf\n");
  RunLog(u"");
  SetRunLogSink(nullptr);
  RunLog(u"after");
  EXPECT_EQ(lines, (std::vector<std::string>{"one", "C:\\a", "System Error.", "", "last", "cr",
                                             "lf", ""}));
}

// A stream that takes a few bytes and then fails like a full disk.
class TFullStream : public TMemoryStream {
 public:
  explicit TFullStream(String reason) : reason_(std::move(reason)) {}
  int64_t Write(const void* data, int64_t count) override {
    if (Size() >= 4) return 0;
    return TMemoryStream::Write(data, count < 4 ? count : 4);
  }
  String WriteFailureReason() override { return reason_; }

 private:
  String reason_;
};

std::string WriteMessage(const String& reason) {
  TFullStream stream(reason);
  try {
    stream.WriteBuffer("0123456789", 10);
  } catch (const EWriteError& e) {
    return Utf16ToUtf8(e.Message());
  }
  return "<no error>";
}

TEST(ErrorMessages, NameTheSystemsReason) {
  EXPECT_EQ(WriteMessage(u"There is not enough space on the disk."),
            "There is not enough space on the disk.");
  EXPECT_EQ(WriteMessage(u""), "Stream write error");

  struct Case {
    uint32_t code;
    String systemText, additional;
    const char* message;
  } cases[] = {
      {112, u"Disk full.", u"Z:\\a -> Z:\\b",
       "System Error.  Code: 112.\r\nDisk full.\r\nZ:\\a -> Z:\\b"},
      {5, u"Access is denied.\r\n", u"x", "System Error.  Code: 5.\r\nAccess is denied.\r\nx"},
      {5, u"Access is denied.", u"", "System Error.  Code: 5.\r\nAccess is denied."},
      {5, u"", u"x", "System Error.  Code: 5.\r\nx"},
      {5, u"Access denied.", u" (copy)", "System Error.  Code: 5.\r\nAccess denied. (copy)"},
      {0, u"", u"x", "A call to an OS function failed"},
  };
  for (const Case& c : cases)
    EXPECT_EQ(Utf16ToUtf8(EOSError(c.code, c.systemText, c.additional).Message()), c.message);
}

}  // namespace
