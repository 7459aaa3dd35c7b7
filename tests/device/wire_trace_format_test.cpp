// The trace line format read back: what the writer writes parses to the same
// entries, and every malformed line is refused with its number and what was
// expected there.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "device/wire_trace_format.h"

namespace ktq {
namespace {

std::string Bytes(const std::string& first, size_t total = 62) {
  std::string out = first;
  size_t count = first.empty() ? 0 : (first.size() + 1) / 3;
  for (; count < total; ++count) out += out.empty() ? "00" : " 00";
  return out;
}

TEST(WireTraceFormatTest, WrittenLinesReadBackAsTheSameEntries) {
  TraceEntry open;
  open.micros = 0;
  open.word = TraceWord::kOpen;
  open.device = TraceDevice{"/dev/hidraw3", 0x3A7C, 0x7101, "A\"B\\C\x01", "Converter \xC3\xA9"};
  TraceEntry out;
  out.micros = 90;
  out.word = TraceWord::kOut;
  for (size_t i = 0; i < out.report.size(); ++i) out.report[i] = static_cast<uint8_t>(i * 37);
  TraceEntry bareOpen, in, outFail, inFail, removed, close;
  bareOpen.word = TraceWord::kOpen;
  in.word = TraceWord::kIn;
  in.report[0] = 0x01;
  in.report[61] = 0xFE;
  outFail.word = TraceWord::kOutFail;
  inFail.word = TraceWord::kInFail;
  removed.word = TraceWord::kRemoved;
  close.word = TraceWord::kClose;
  close.micros = 18446744073709551615u;
  const std::vector<TraceEntry> written = {open, out, in, outFail, inFail, removed, close, bareOpen};

  EXPECT_EQ(FormatTraceLine(open),
            "0 OPEN path=\"/dev/hidraw3\" vid=3A7C pid=7101 serial=\"A\\\"B\\\\C\\x01\" product=\"Converter \xC3\xA9\"");
  EXPECT_EQ(FormatTraceLine(in), "0 IN " + Bytes("01", 61) + " FE");
  EXPECT_EQ(FormatTraceLine(bareOpen), "0 OPEN");

  std::string text;
  for (const TraceEntry& e : written) text += FormatTraceLine(e) + "\n";
  std::vector<TraceEntry> read;
  std::string error;
  ASSERT_TRUE(ParseTraceText(text, read, error)) << error;
  ASSERT_EQ(read.size(), written.size());
  for (size_t i = 0; i < read.size(); ++i) {
    SCOPED_TRACE(i);
    EXPECT_EQ(read[i].line, i + 1);
    EXPECT_EQ(read[i].micros, written[i].micros);
    EXPECT_EQ(read[i].word, written[i].word);
    EXPECT_EQ(read[i].report, written[i].report);
    ASSERT_EQ(read[i].device.has_value(), written[i].device.has_value());
    if (read[i].device) {
      EXPECT_EQ(read[i].device->path, written[i].device->path);
      EXPECT_EQ(read[i].device->vendorId, written[i].device->vendorId);
      EXPECT_EQ(read[i].device->productId, written[i].device->productId);
      EXPECT_EQ(read[i].device->serial, written[i].device->serial);
      EXPECT_EQ(read[i].device->product, written[i].device->product);
    }
  }
}

TEST(WireTraceFormatTest, CommentsBlankLinesAndCarriageReturnsAreSkippedButCounted) {
  std::vector<TraceEntry> read;
  std::string error;
  ASSERT_TRUE(ParseTraceText("# flash on the customer's bench\r\n\r\n5 OPEN\r\n\n7 CLOSE\r\n", read, error)) << error;
  ASSERT_EQ(read.size(), 2u);
  EXPECT_EQ(read[0].line, 3u);
  EXPECT_EQ(read[1].line, 5u);
  EXPECT_EQ(read[1].word, TraceWord::kClose);
}

TEST(WireTraceFormatTest, MalformedLinesNameTheLineAndWhatWasExpected) {
  const struct {
    std::string line;
    std::string error;
  } cases[] = {
      {"OUT 01", "line 2: expected a time stamp (microseconds) at the start of the line, found \"OUT\""},
      {" 5 OPEN", "line 2: expected a time stamp (microseconds) at the start of the line"},
      {"99999999999999999999 OPEN", "line 2: time stamp out of range"},
      {"12", "line 2: expected a space before the word"},
      {"12 SEND", "line 2: expected OPEN, CLOSE, OUT, IN, OUT-FAIL, IN-FAIL or REMOVED, found \"SEND\""},
      {"12 out " + Bytes(""), "line 2: expected OPEN, CLOSE, OUT, IN, OUT-FAIL, IN-FAIL or REMOVED, found \"out\""},
      {"12 OUT " + Bytes("", 61), "line 2: OUT: expected 62 report bytes, found 61"},
      {"12 IN " + Bytes("", 63), "line 2: IN: expected 62 report bytes, found more"},
      {"12 IN", "line 2: IN: expected 62 report bytes, found 0"},
      {"12 OUT 01 0G" + Bytes("", 60).substr(2), "line 2: OUT: byte 1: expected two hex digits, found \"0G\""},
      {"12 OUT 01  00", "line 2: OUT: byte 1: expected two hex digits, found \"\""},
      {"12 OUT 1 00", "line 2: OUT: byte 0: expected two hex digits, found \"1\""},
      {"12 CLOSE now", "line 2: CLOSE: expected the end of the line"},
      {"12 REMOVED ", "line 2: REMOVED: expected the end of the line"},
      {"12 OPEN path=\"x\"", "line 2: OPEN: expected both vid= and pid= when the device is named"},
      {"12 OPEN vid=3A7C pid=71", "line 2: OPEN: pid: expected four hex digits, found \"71\""},
      {"12 OPEN vid=3A7C pid=7101 colour=\"red\"",
       "line 2: OPEN: unknown field \"colour\" (expected path, vid, pid, serial or product)"},
      {"12 OPEN vid=3A7C vid=3A7C", "line 2: OPEN: field vid given twice"},
      {"12 OPEN path=x vid=3A7C pid=7101", "line 2: OPEN: path: expected a quoted text"},
      {"12 OPEN path=\"x vid=3A7C pid=7101", "line 2: OPEN: path: expected a closing quote"},
      {"12 OPEN path=\"\\n\" vid=3A7C pid=7101", "line 2: OPEN: path: expected \\\", \\\\ or \\xHH after a backslash"},
      {"12 OPEN dev", "line 2: OPEN: expected path=, vid=, pid=, serial= or product= at column 9"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.line);
    std::vector<TraceEntry> read;
    std::string error;
    EXPECT_FALSE(ParseTraceText("0 OPEN\n" + c.line + "\n1 CLOSE\n", read, error));
    EXPECT_EQ(error, c.error);
  }
}

TEST(WireTraceFormatTest, ATraceIsTellableFromOtherTextByItsFirstLine) {
  EXPECT_TRUE(LooksLikeTrace("0 OPEN\n"));
  EXPECT_TRUE(LooksLikeTrace("# recorded at the customer's\n\n12 OUT 01\n"));
  EXPECT_TRUE(LooksLikeTrace("12 nonsense"));  // a trace, if a broken one
  EXPECT_FALSE(LooksLikeTrace("{\"devices\": []}"));
  EXPECT_FALSE(LooksLikeTrace("OPEN\n"));
  // A session that found no converter records nothing.
  EXPECT_TRUE(LooksLikeTrace("# only a comment\n"));
  EXPECT_TRUE(LooksLikeTrace(""));
}

}  // namespace
}  // namespace ktq
