#include "device/wire_trace_format.h"

#include <cstdio>

#include "device/hid_session.h"

namespace ktq {

static_assert(std::tuple_size_v<decltype(TraceEntry::report)> == kReportSize);

namespace {

constexpr char kHexDigits[] = "0123456789ABCDEF";

struct WordName {
  TraceWord word;
  const char* name;
};
constexpr WordName kWords[] = {
    {TraceWord::kOpen, "OPEN"},         {TraceWord::kClose, "CLOSE"},    {TraceWord::kOut, "OUT"},
    {TraceWord::kIn, "IN"},             {TraceWord::kOutFail, "OUT-FAIL"}, {TraceWord::kInFail, "IN-FAIL"},
    {TraceWord::kRemoved, "REMOVED"},
};
constexpr char kWordList[] = "OPEN, CLOSE, OUT, IN, OUT-FAIL, IN-FAIL or REMOVED";

void AppendQuoted(std::string& out, const std::string& text) {
  out += '"';
  for (unsigned char c : text) {
    if (c == '"' || c == '\\') {
      out += '\\';
      out += static_cast<char>(c);
    } else if (c < 0x20 || c == 0x7F) {
      out += "\\x";
      out += kHexDigits[c >> 4];
      out += kHexDigits[c & 0x0F];
    } else {
      out += static_cast<char>(c);
    }
  }
  out += '"';
}

int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return -1;
}

// Reads the fields of one line from left to right; the first failure keeps
// its message.
class LineReader {
 public:
  explicit LineReader(std::string_view text) : text_(text) {}

  bool AtEnd() const { return pos_ >= text_.size(); }

  bool Fail(std::string message) {
    if (error_.empty()) error_ = std::move(message);
    return false;
  }
  const std::string& Error() const { return error_; }

  // One space between fields, exactly as written.
  bool Space(const char* expected) {
    if (pos_ < text_.size() && text_[pos_] == ' ') {
      ++pos_;
      return true;
    }
    return Fail(std::string("expected a space before ") + expected);
  }

  std::string_view Token() {
    const size_t start = pos_;
    while (pos_ < text_.size() && text_[pos_] != ' ') ++pos_;
    return text_.substr(start, pos_ - start);
  }

  bool Micros(uint64_t& out) {
    const std::string_view digits = Token();
    if (digits.empty()) return Fail("expected a time stamp (microseconds) at the start of the line");
    out = 0;
    for (char c : digits) {
      if (c < '0' || c > '9')
        return Fail("expected a time stamp (microseconds) at the start of the line, found \"" + std::string(digits) +
                    "\"");
      const auto digit = static_cast<uint64_t>(c - '0');
      if (out > (UINT64_MAX - digit) / 10) return Fail("time stamp out of range");
      out = out * 10 + digit;
    }
    return true;
  }

  bool Report(const char* word, std::array<uint8_t, 62>& out) {
    size_t count = 0;
    while (!AtEnd()) {
      if (!Space("a report byte")) return false;
      const std::string_view byte = Token();
      if (count == out.size()) return Fail(std::string(word) + ": expected 62 report bytes, found more");
      if (byte.size() != 2 || HexValue(byte[0]) < 0 || HexValue(byte[1]) < 0)
        return Fail(std::string(word) + ": byte " + std::to_string(count) + ": expected two hex digits, found \"" +
                    std::string(byte) + "\"");
      out[count++] = static_cast<uint8_t>(HexValue(byte[0]) << 4 | HexValue(byte[1]));
    }
    if (count != out.size())
      return Fail(std::string(word) + ": expected 62 report bytes, found " + std::to_string(count));
    return true;
  }

  bool Device(TraceDevice& device) {
    bool seen[5] = {};
    while (!AtEnd()) {
      if (!Space("a field of OPEN")) return false;
      const size_t equals = text_.find('=', pos_);
      if (equals == std::string_view::npos)
        return Fail("OPEN: expected path=, vid=, pid=, serial= or product= at column " + std::to_string(pos_ + 1));
      const std::string_view key = text_.substr(pos_, equals - pos_);
      pos_ = equals + 1;
      const int index = key == "path" ? 0 : key == "vid" ? 1 : key == "pid" ? 2 : key == "serial" ? 3
                        : key == "product" ? 4 : -1;
      if (index < 0)
        return Fail("OPEN: unknown field \"" + std::string(key) + "\" (expected path, vid, pid, serial or product)");
      if (seen[index]) return Fail("OPEN: field " + std::string(key) + " given twice");
      seen[index] = true;
      bool ok = false;
      switch (index) {
        case 0: ok = Quoted("path", device.path); break;
        case 1: ok = Id("vid", device.vendorId); break;
        case 2: ok = Id("pid", device.productId); break;
        case 3: ok = Quoted("serial", device.serial); break;
        default: ok = Quoted("product", device.product); break;
      }
      if (!ok) return false;
    }
    if (!seen[1] || !seen[2]) return Fail("OPEN: expected both vid= and pid= when the device is named");
    return true;
  }

 private:
  bool Id(const char* key, uint16_t& out) {
    const std::string_view digits = Token();
    if (digits.size() != 4 || HexValue(digits[0]) < 0 || HexValue(digits[1]) < 0 || HexValue(digits[2]) < 0 ||
        HexValue(digits[3]) < 0)
      return Fail(std::string("OPEN: ") + key + ": expected four hex digits, found \"" + std::string(digits) + "\"");
    out = static_cast<uint16_t>(HexValue(digits[0]) << 12 | HexValue(digits[1]) << 8 | HexValue(digits[2]) << 4 |
                                HexValue(digits[3]));
    return true;
  }

  bool Quoted(const char* key, std::string& out) {
    const std::string what = std::string("OPEN: ") + key + ": ";
    if (pos_ >= text_.size() || text_[pos_] != '"') return Fail(what + "expected a quoted text");
    ++pos_;
    out.clear();
    while (pos_ < text_.size() && text_[pos_] != '"') {
      char c = text_[pos_++];
      if (c == '\\') {
        if (pos_ >= text_.size()) break;
        const char e = text_[pos_++];
        if (e == '"' || e == '\\') {
          c = e;
        } else if (e == 'x' && pos_ + 2 <= text_.size() && HexValue(text_[pos_]) >= 0 &&
                   HexValue(text_[pos_ + 1]) >= 0) {
          c = static_cast<char>(HexValue(text_[pos_]) << 4 | HexValue(text_[pos_ + 1]));
          pos_ += 2;
        } else {
          return Fail(what + "expected \\\", \\\\ or \\xHH after a backslash");
        }
      }
      out += c;
    }
    if (pos_ >= text_.size()) return Fail(what + "expected a closing quote");
    ++pos_;
    return true;
  }

  std::string_view text_;
  size_t pos_ = 0;
  std::string error_;
};

bool ParseLine(std::string_view text, TraceEntry& entry, std::string& error) {
  LineReader reader(text);
  bool ok = reader.Micros(entry.micros) && reader.Space("the word");
  if (ok) {
    const std::string_view word = reader.Token();
    const WordName* found = nullptr;
    for (const WordName& w : kWords)
      if (word == w.name) found = &w;
    if (!found) {
      ok = reader.Fail("expected " + std::string(kWordList) + ", found \"" + std::string(word) + "\"");
    } else {
      entry.word = found->word;
      if (entry.word == TraceWord::kOut || entry.word == TraceWord::kIn) {
        ok = reader.Report(found->name, entry.report);
      } else if (entry.word == TraceWord::kOpen) {
        if (!reader.AtEnd()) {
          entry.device.emplace();
          ok = reader.Device(*entry.device);
        }
      } else if (!reader.AtEnd()) {
        ok = reader.Fail(std::string(found->name) + ": expected the end of the line");
      }
    }
  }
  if (!ok) error = reader.Error();
  return ok;
}

bool Ignored(std::string_view line) { return line.empty() || line[0] == '#'; }

// Calls `each(line number, line)` for every line, its end ("\n", "\r\n")
// removed; stops when it returns false.
template <typename Each>
bool ForEachLine(std::string_view text, Each each) {
  size_t number = 0;
  for (size_t start = 0; start < text.size();) {
    size_t end = text.find('\n', start);
    if (end == std::string_view::npos) end = text.size();
    std::string_view line = text.substr(start, end - start);
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    if (!each(++number, line)) return false;
    start = end + 1;
  }
  return true;
}

}  // namespace

const char* TraceWordName(TraceWord word) {
  for (const WordName& w : kWords)
    if (w.word == word) return w.name;
  return "?";
}

std::string FormatTraceLine(const TraceEntry& entry) {
  std::string line = std::to_string(entry.micros) + ' ' + TraceWordName(entry.word);
  if (entry.word == TraceWord::kOut || entry.word == TraceWord::kIn) {
    for (uint8_t b : entry.report) {
      line += ' ';
      line += kHexDigits[b >> 4];
      line += kHexDigits[b & 0x0F];
    }
  } else if (entry.word == TraceWord::kOpen && entry.device) {
    const TraceDevice& d = *entry.device;
    char ids[32];
    std::snprintf(ids, sizeof ids, " vid=%04X pid=%04X", d.vendorId, d.productId);
    line += " path=";
    AppendQuoted(line, d.path);
    line += ids;
    line += " serial=";
    AppendQuoted(line, d.serial);
    line += " product=";
    AppendQuoted(line, d.product);
  }
  return line;
}

bool ParseTraceText(std::string_view text, std::vector<TraceEntry>& entries, std::string& error) {
  entries.clear();
  return ForEachLine(text, [&](size_t number, std::string_view line) {
    if (Ignored(line)) return true;
    TraceEntry entry;
    entry.line = number;
    std::string problem;
    if (!ParseLine(line, entry, problem)) {
      error = "line " + std::to_string(number) + ": " + problem;
      return false;
    }
    entries.push_back(std::move(entry));
    return true;
  });
}

bool LooksLikeTrace(std::string_view text) {
  bool trace = true;  // a session that never opened a device records nothing
  ForEachLine(text, [&](size_t, std::string_view line) {
    if (Ignored(line)) return true;
    trace = line[0] >= '0' && line[0] <= '9';
    return false;
  });
  return trace;
}

}  // namespace ktq
