// Parser for the register map sources; the format and its rules are in
// docs/register-maps.md. Errors are raised as exceptions inside this file and
// turned into "FILE:LINE: message" at the entry point.
#include "tools/regmap/regmap.h"

#include <filesystem>
#include <fstream>
#include <map>
#include <optional>
#include <set>
#include <sstream>
#include <unordered_map>
#include <utility>
#include <variant>

namespace regmap {
namespace {

namespace fs = std::filesystem;

struct Location {
  std::string file;
  int line = 0;
  std::string Text() const { return file + ":" + std::to_string(line); }
};

struct ParseError {
  std::string text;
};

[[noreturn]] void Fail(const Location& at, const std::string& message) {
  throw ParseError{at.Text() + ": " + message};
}

struct Token {
  std::string text;
  bool quoted = false;
};

// One source line split into tokens; comments dropped.
std::vector<Token> Tokenize(const std::string& line, const Location& at) {
  std::vector<Token> tokens;
  size_t i = 0;
  while (i < line.size()) {
    const char c = line[i];
    if (c == ' ' || c == '\t' || c == '\r') {
      ++i;
    } else if (c == '#') {
      break;
    } else if (c == '"') {
      Token t{"", true};
      ++i;
      bool closed = false;
      while (i < line.size()) {
        const char d = line[i++];
        if (d == '"') {
          closed = true;
          break;
        }
        if (d == '\\') {
          if (i >= line.size()) break;
          const char e = line[i++];
          if (e != '"' && e != '\\') Fail(at, std::string("unknown escape \\") + e + " in string");
          t.text += e;
        } else {
          t.text += d;
        }
      }
      if (!closed) Fail(at, "unterminated string");
      tokens.push_back(std::move(t));
    } else {
      Token t;
      while (i < line.size() && line[i] != ' ' && line[i] != '\t' && line[i] != '\r' &&
             line[i] != '"' && line[i] != '#') {
        t.text += line[i++];
      }
      tokens.push_back(std::move(t));
    }
  }
  return tokens;
}

std::optional<uint32_t> ParseNumber(const std::string& text) {
  size_t i = 0;
  unsigned base = 10;
  if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
    base = 16;
    i = 2;
  }
  if (i >= text.size()) return std::nullopt;
  uint64_t value = 0;
  for (; i < text.size(); ++i) {
    const char c = text[i];
    unsigned digit;
    if (c >= '0' && c <= '9') {
      digit = static_cast<unsigned>(c - '0');
    } else if (base == 16 && c >= 'a' && c <= 'f') {
      digit = static_cast<unsigned>(c - 'a' + 10);
    } else if (base == 16 && c >= 'A' && c <= 'F') {
      digit = static_cast<unsigned>(c - 'A' + 10);
    } else {
      return std::nullopt;
    }
    value = value * base + digit;
    if (value > 0xFFFFFFFFu) return std::nullopt;
  }
  return static_cast<uint32_t>(value);
}

uint32_t Number(const Token& token, const Location& at, const char* what) {
  if (!token.quoted) {
    if (auto v = ParseNumber(token.text)) return *v;
  }
  Fail(at, std::string("invalid ") + what + " '" + token.text + "' (a 32-bit decimal or 0x number)");
}

const std::string& Word(const Token& token, const Location& at, const char* what) {
  if (token.quoted) Fail(at, std::string("expected ") + what + ", found a string");
  return token.text;
}

const std::string& Text(const Token& token, const Location& at, const char* what) {
  if (!token.quoted) Fail(at, std::string("expected ") + what + " in double quotes, found '" + token.text + "'");
  return token.text;
}

constexpr size_t kMaxNameLength = 59;
constexpr uint32_t kMaxFields = 32;

void CheckName(const std::string& name, const Location& at, const char* what) {
  if (name.empty()) Fail(at, std::string("empty ") + what + " name");
  for (char c : name) {
    if (!((c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_')) {
      Fail(at, std::string(what) + " name '" + name + "' may hold only A-Z, 0-9 and _");
    }
  }
  if (name.size() > kMaxNameLength) {
    Fail(at, std::string(what) + " name '" + name + "' is longer than 59 characters");
  }
}

// Placeholder values of the uses being expanded, innermost last.
using Bindings = std::vector<std::pair<std::string, uint64_t>>;

bool IsPlaceholderName(const std::string& name) {
  if (name.empty()) return false;
  for (char c : name) {
    if (c < 'a' || c > 'z') return false;
  }
  return true;
}

const uint64_t* Lookup(const Bindings& bindings, const std::string& name) {
  for (auto it = bindings.rbegin(); it != bindings.rend(); ++it) {
    if (it->first == name) return &it->second;
  }
  return nullptr;
}

// Replaces every bound {x} by its value; unbound ones stay as written (in a
// name they then fail the character check).
std::string Substitute(const std::string& text, const Bindings& bindings) {
  std::string out;
  size_t i = 0;
  while (i < text.size()) {
    const size_t open = text.find('{', i);
    const size_t close = open == std::string::npos ? std::string::npos : text.find('}', open);
    if (close == std::string::npos) break;
    out.append(text, i, open - i);
    const std::string name = text.substr(open + 1, close - open - 1);
    const uint64_t* value = IsPlaceholderName(name) ? Lookup(bindings, name) : nullptr;
    if (value) {
      out += std::to_string(*value);
      i = close + 1;
    } else {
      out += '{';
      i = open + 1;
    }
  }
  out.append(text, i, std::string::npos);
  return out;
}

// Every {x} replaced by 0, for checking a template line before it is used.
std::string SubstituteAny(const std::string& text) {
  std::string out = text;
  for (size_t open = out.find('{'); open != std::string::npos; open = out.find('{', open + 1)) {
    const size_t close = out.find('}', open);
    if (close == std::string::npos) break;
    if (IsPlaceholderName(out.substr(open + 1, close - open - 1))) out.replace(open, close - open + 1, "0");
  }
  return out;
}

// Body items of templates, and of the top level as they are read.
struct RegLine {
  Location at;
  std::string name;
  std::string description;
  uint32_t address = 0;  // offset inside templates
  std::optional<uint32_t> reset;
};

struct FieldLine {
  Location at;
  Field field;
};

struct UseLine {
  Location at;
  std::string templateName;
  uint32_t address = 0;  // offset inside templates
  uint32_t count = 1;
  uint32_t stride = 0;
  bool repeated = false;      // `count` given: {n} = FIRST + i
  uint32_t first = 0;
  std::string firstFrom;  // `index {x}` inside a template: the enclosing value of x
  std::string placeholder = "n";  // `as x`
};

using Item = std::variant<RegLine, FieldLine, UseLine>;

struct Template {
  Location at;
  std::vector<Item> body;
};

class Parser {
 public:
  explicit Parser(Map& out) : map_(out) {}

  // `text`: the top file's lines when they do not come from the file.
  void ParseTop(const std::string& path, const std::string* text) {
    ParseFile(path, std::nullopt, text);
    CloseRegister();
    const Location end{path, lastTopLine_};
    if (map_.variant.empty()) Fail(end, "no 'variant' directive");
    if (map_.chipType == 0) Fail(end, "no 'chip' directive");
    if (!nameBaseSeen_) Fail(end, "no 'name-base' directive");
  }

 private:
  static constexpr size_t kMaxRegisters = 12288;
  static constexpr size_t kMaxNesting = 16;

  struct OpenTemplate {
    std::string name;
    Template body;
    bool fieldsAllowed = false;
  };

  void ParseFile(const std::string& path, std::optional<Location> includedFrom, const std::string* text = nullptr) {
    std::error_code ec;
    fs::path canonical = fs::weakly_canonical(fs::path(path), ec);
    if (ec) canonical = fs::absolute(fs::path(path));
    const std::string key = canonical.string();
    for (const auto& open : includeChain_) {
      if (open == key) Fail(*includedFrom, "include loop: '" + path + "' is already being read");
    }
    if (includeChain_.size() >= kMaxNesting) Fail(*includedFrom, "includes nested deeper than 16 files");
    // Only regular files: a device or a pipe could feed lines for ever.
    std::ifstream file;
    std::istringstream given;
    if (text != nullptr) {
      given.str(*text);
    } else {
      if (fs::is_regular_file(path, ec)) file.open(path, std::ios::binary);
      if (!file.is_open()) {
        if (includedFrom) Fail(*includedFrom, "cannot open included file '" + path + "'");
        throw ParseError{path + ":0: cannot open file"};
      }
    }
    std::istream& in = text != nullptr ? static_cast<std::istream&>(given) : file;
    includeChain_.push_back(key);
    if (text == nullptr) map_.files.push_back(key);
    const bool top = !includedFrom.has_value();

    std::optional<OpenTemplate> tmpl;
    std::string line;
    int lineNo = 0;
    while (std::getline(in, line)) {
      ++lineNo;
      if (top) lastTopLine_ = lineNo;
      const Location at{path, lineNo};
      const std::vector<Token> tokens = Tokenize(line, at);
      if (tokens.empty()) continue;
      const std::string& directive = Word(tokens[0], at, "a directive");
      if (tmpl) {
        ReadTemplateLine(directive, tokens, at, *tmpl);
        if (directive == "end") {
          if (tmpl->body.body.empty()) Fail(tmpl->body.at, "template '" + tmpl->name + "' has no registers");
          templates_.emplace(tmpl->name, std::move(tmpl->body));
          tmpl.reset();
        }
        continue;
      }
      ReadLine(directive, tokens, at, top, tmpl);
    }
    if (in.bad()) Fail(Location{path, lineNo}, "read error");
    if (tmpl) Fail(tmpl->body.at, "template '" + tmpl->name + "' has no 'end'");
    CloseRegister();
    includeChain_.pop_back();
  }

  void ReadLine(const std::string& directive, const std::vector<Token>& tokens, const Location& at, bool top,
                std::optional<OpenTemplate>& tmpl) {
    if (directive == "variant" || directive == "chip" || directive == "name-base") {
      ReadHeader(directive, tokens, at, top);
    } else if (directive == "include") {
      Expect(tokens, 2, at, "include \"PATH\"");
      const std::string& rel = Text(tokens[1], at, "a path");
      CloseRegister();
      fs::path target(rel);
      if (target.is_relative()) target = fs::path(at.file).parent_path() / target;
      ParseFile(target.string(), at);
    } else if (directive == "template") {
      Expect(tokens, 2, at, "template NAME");
      const std::string& name = Word(tokens[1], at, "a template name");
      CheckName(name, at, "template");
      if (templates_.count(name)) Fail(at, "template '" + name + "' already defined at " + templates_[name].at.Text());
      CloseRegister();
      tmpl = OpenTemplate{name, Template{at, {}}, false};
    } else if (directive == "end") {
      Fail(at, "'end' without 'template'");
    } else if (directive == "reg") {
      RequireVariant(at);
      CloseRegister();
      EmitRegister(ReadReg(tokens, at, false), 0, nullptr, nullptr);
    } else if (directive == "field") {
      if (!open_) Fail(at, "'field' with no register above it");
      AddField(ReadField(tokens, at, false), at);
    } else if (directive == "use") {
      RequireVariant(at);
      CloseRegister();
      Expand(ReadUse(tokens, at, false), 0, {});
    } else {
      Fail(at, "unknown directive '" + directive + "'");
    }
  }

  void ReadTemplateLine(const std::string& directive, const std::vector<Token>& tokens, const Location& at,
                        OpenTemplate& tmpl) {
    if (directive == "end") {
      Expect(tokens, 1, at, "end");
    } else if (directive == "reg") {
      tmpl.body.body.push_back(ReadReg(tokens, at, true));
      tmpl.fieldsAllowed = true;
    } else if (directive == "field") {
      if (!tmpl.fieldsAllowed) Fail(at, "'field' with no register above it");
      auto& reg = std::get<RegLine>(*FindLastReg(tmpl.body.body));
      if (reg.reset) Fail(at, "register '" + reg.name + "' has a RESET value and so takes no fields");
      tmpl.body.body.push_back(FieldLine{at, ReadField(tokens, at, true)});
    } else if (directive == "use") {
      tmpl.body.body.push_back(ReadUse(tokens, at, true));
      tmpl.fieldsAllowed = false;
    } else if (directive == "template") {
      Fail(at, "'template' inside template '" + tmpl.name + "'");
    } else {
      Fail(at, "'" + directive + "' is not allowed inside a template");
    }
  }

  static Item* FindLastReg(std::vector<Item>& body) {
    for (auto it = body.rbegin(); it != body.rend(); ++it) {
      if (std::holds_alternative<RegLine>(*it)) return &*it;
    }
    return nullptr;
  }

  void ReadHeader(const std::string& directive, const std::vector<Token>& tokens, const Location& at, bool top) {
    if (!top) Fail(at, "'" + directive + "' belongs in the top-level file");
    Expect(tokens, 2, at, directive + " VALUE");
    if (directive == "variant") {
      if (!map_.variant.empty()) Fail(at, "second 'variant' directive");
      const std::string& id = Word(tokens[1], at, "a variant");
      static const std::set<std::string> kVariants{"5", "6a", "6b", "4a", "4b"};
      if (!kVariants.count(id)) Fail(at, "unknown variant '" + id + "' (5, 6a, 6b, 4a or 4b)");
      map_.variant = id;
    } else if (directive == "chip") {
      if (map_.chipType != 0) Fail(at, "second 'chip' directive");
      const uint32_t type = Number(tokens[1], at, "chip type");
      if (type < 4 || type > 6) Fail(at, "unknown chip type " + std::to_string(type) + " (4, 5 or 6)");
      map_.chipType = static_cast<int>(type);
    } else {
      if (nameBaseSeen_) Fail(at, "second 'name-base' directive");
      map_.nameBase = Number(tokens[1], at, "name base");
      nameBaseSeen_ = true;
    }
    if (!map_.variant.empty() && map_.chipType != 0 && map_.variant[0] - '0' != map_.chipType) {
      Fail(at, "variant " + map_.variant + " does not belong to chip type " + std::to_string(map_.chipType));
    }
  }

  void RequireVariant(const Location& at) {
    if (map_.variant.empty()) Fail(at, "registers before the 'variant' directive");
  }

  static void Expect(const std::vector<Token>& tokens, size_t n, const Location& at, const std::string& form) {
    if (tokens.size() != n) Fail(at, "expected: " + form);
  }

  // Checks a name that may still hold {n}, with the placeholder standing for 0.
  static void CheckPattern(const std::string& name, const Location& at, const char* what) {
    CheckName(SubstituteAny(name), at, what);
  }

  static uint32_t Address(const Token& token, const Location& at, bool inTemplate) {
    if (inTemplate) {
      if (token.quoted || token.text.size() < 2 || token.text[0] != '+') {
        Fail(at, "addresses inside templates are offsets (+0x...)");
      }
      return Number(Token{token.text.substr(1), false}, at, "offset");
    }
    if (!token.quoted && !token.text.empty() && token.text[0] == '+') {
      Fail(at, "an offset outside a template; use an absolute address");
    }
    return Number(token, at, "address");
  }

  static RegLine ReadReg(const std::vector<Token>& tokens, const Location& at, bool inTemplate) {
    if (tokens.size() != 4 && tokens.size() != 5) Fail(at, "expected: reg NAME ADDRESS [RESET] \"DESCRIPTION\"");
    RegLine reg;
    reg.at = at;
    reg.name = Word(tokens[1], at, "a register name");
    if (inTemplate) {
      CheckPattern(reg.name, at, "register");
    } else {
      CheckName(reg.name, at, "register");
    }
    reg.address = Address(tokens[2], at, inTemplate);
    if (tokens.size() == 5) reg.reset = Number(tokens[3], at, "reset value");
    reg.description = Text(tokens.back(), at, "a description");
    return reg;
  }

  static Field ReadField(const std::vector<Token>& tokens, const Location& at, bool inTemplate) {
    Expect(tokens, 6, at, "field NAME LSB WIDTH RESET \"DESCRIPTION\"");
    Field f;
    f.name = Word(tokens[1], at, "a field name");
    if (inTemplate) {
      CheckPattern(f.name, at, "field");
    } else {
      CheckName(f.name, at, "field");
    }
    f.lsb = Number(tokens[2], at, "bit position");
    f.width = Number(tokens[3], at, "width");
    f.reset = Number(tokens[4], at, "reset value");
    f.description = Text(tokens[5], at, "a description");
    if (f.width < 1) Fail(at, "field '" + f.name + "' has width 0");
    if (f.lsb >= 32 || f.width > 32 - f.lsb) Fail(at, "field '" + f.name + "' reaches beyond bit 31");
    if (f.width < 32 && f.reset >> f.width != 0) {
      Fail(at, "reset value of field '" + f.name + "' does not fit " + std::to_string(f.width) + " bits");
    }
    return f;
  }

  static UseLine ReadUse(const std::vector<Token>& tokens, const Location& at, bool inTemplate) {
    const char* form = "use NAME at ADDRESS [count N stride S] [index FIRST] [as PLACEHOLDER]";
    if (tokens.size() < 4) Fail(at, std::string("expected: ") + form);
    UseLine use;
    use.at = at;
    use.templateName = Word(tokens[1], at, "a template name");
    if (tokens[2].quoted || tokens[2].text != "at") Fail(at, std::string("expected: ") + form);
    use.address = Address(tokens[3], at, inTemplate);
    bool haveCount = false, haveStride = false, haveIndex = false, haveAs = false;
    for (size_t i = 4; i < tokens.size(); i += 2) {
      const std::string& key = Word(tokens[i], at, "count, stride or index");
      if (i + 1 >= tokens.size()) Fail(at, "'" + key + "' needs a value");
      const Token& value = tokens[i + 1];
      bool* seen = key == "count"    ? &haveCount
                   : key == "stride" ? &haveStride
                   : key == "index"  ? &haveIndex
                   : key == "as"     ? &haveAs
                                     : nullptr;
      if (!seen) Fail(at, "unknown option '" + key + "' (count, stride, index or as)");
      if (*seen) Fail(at, "'" + key + "' given twice");
      *seen = true;
      if (key == "count") {
        use.count = Number(value, at, "count");
        if (use.count == 0) Fail(at, "count must be at least 1");
      } else if (key == "stride") {
        use.stride = Number(value, at, "stride");
      } else if (key == "as") {
        use.placeholder = Word(value, at, "a placeholder name");
        if (!IsPlaceholderName(use.placeholder)) Fail(at, "placeholder names are lower-case letters");
      } else if (inTemplate && !value.quoted && value.text.size() > 2 && value.text.front() == '{' &&
                 value.text.back() == '}' && IsPlaceholderName(value.text.substr(1, value.text.size() - 2))) {
        use.firstFrom = value.text.substr(1, value.text.size() - 2);
      } else {
        use.first = Number(value, at, "index");
      }
    }
    if (haveCount != haveStride) Fail(at, "'count' and 'stride' go together");
    use.repeated = haveCount;
    return use;
  }

  // Emits the template's registers; `base` and `outer` come from the
  // enclosing copy when the use stands inside another template.
  void Expand(const UseLine& use, uint64_t base, const Bindings& outer) {
    auto found = templates_.find(use.templateName);
    if (found == templates_.end()) Fail(use.at, "unknown template '" + use.templateName + "'");
    for (const auto& active : expanding_) {
      if (active == use.templateName) Fail(use.at, "template '" + use.templateName + "' uses itself");
    }
    uint64_t first = use.first;
    if (!use.firstFrom.empty()) {
      const uint64_t* value = Lookup(outer, use.firstFrom);
      if (!value) Fail(use.at, "placeholder {" + use.firstFrom + "} has no value here");
      first = *value;
    }
    if (expanding_.size() >= kMaxNesting) Fail(use.at, "templates nested deeper than 16 uses");
    expanding_.push_back(use.templateName);
    const Template& tmpl = found->second;
    Bindings bindings = outer;
    bindings.emplace_back(use.placeholder, 0);
    for (uint32_t i = 0; i < use.count; ++i) {
      bindings.back().second = first + i;
      const uint64_t copyBase = base + use.address + static_cast<uint64_t>(i) * use.stride;
      for (const Item& item : tmpl.body) {
        if (const auto* reg = std::get_if<RegLine>(&item)) {
          CloseRegister();
          EmitRegister(*reg, copyBase, &bindings, &use.at);
        } else if (const auto* line = std::get_if<FieldLine>(&item)) {
          Field field = line->field;
          field.name = Substitute(field.name, bindings);
          field.description = Substitute(field.description, bindings);
          CheckName(field.name, line->at, "field");
          AddField(field, line->at);
        } else {
          CloseRegister();
          Expand(std::get<UseLine>(item), copyBase, bindings);
        }
      }
      CloseRegister();
    }
    expanding_.pop_back();
  }

  // `bindings` and `usedAt` are null for a register written outside templates.
  void EmitRegister(const RegLine& line, uint64_t base, const Bindings* bindings, const Location* usedAt) {
    const std::string where = usedAt ? " (used at " + usedAt->Text() + ")" : "";
    Register reg;
    reg.name = bindings ? Substitute(line.name, *bindings) : line.name;
    reg.description = bindings ? Substitute(line.description, *bindings) : line.description;
    CheckName(reg.name, line.at, "register");
    const uint64_t address = base + line.address;
    if (address > 0xFFFFFFFFu) Fail(line.at, "address of '" + reg.name + "' lies beyond 32 bits" + where);
    reg.address = static_cast<uint32_t>(address);
    if (reg.address % 4 != 0) Fail(line.at, "address of '" + reg.name + "' is not a multiple of 4" + where);
    if (auto it = names_.find(reg.name); it != names_.end()) {
      Fail(line.at, "register '" + reg.name + "' already defined at " + it->second.Text() + where);
    }
    if (auto it = addresses_.find(reg.address); it != addresses_.end()) {
      char hex[16];
      std::snprintf(hex, sizeof hex, "0x%08X", reg.address);
      Fail(line.at, "address " + std::string(hex) + " of '" + reg.name + "' already taken by '" + it->second + "'" + where);
    }
    if (map_.registers.size() >= kMaxRegisters) Fail(line.at, "more than 12288 registers" + where);
    names_.emplace(reg.name, line.at);
    addresses_.emplace(reg.address, reg.name);
    map_.registers.push_back(std::move(reg));
    open_ = true;
    openReset_ = line.reset;
  }

  void AddField(const Field& field, const Location& at) {
    Register& reg = map_.registers.back();
    if (openReset_) Fail(at, "register '" + reg.name + "' has a RESET value and so takes no fields");
    if (reg.fields.size() >= kMaxFields) Fail(at, "register '" + reg.name + "' has more than 32 fields");
    for (const Field& f : reg.fields) {
      if (f.name == field.name) Fail(at, "field '" + field.name + "' appears twice in '" + reg.name + "'");
    }
    if (!reg.fields.empty()) {
      const Field& prev = reg.fields.back();
      if (field.lsb < prev.lsb + prev.width) {
        Fail(at, "field '" + field.name + "' of '" + reg.name + "' overlaps or precedes field '" + prev.name + "'");
      }
    }
    reg.fields.push_back(field);
    reg.reset |= field.reset << field.lsb;  // lsb < 32 and the reset fits its width
  }

  void CloseRegister() {
    if (!open_) return;
    open_ = false;
    Register& reg = map_.registers.back();
    if (reg.fields.empty()) {
      reg.fields.push_back(Field{"DATA", "Register value.", 0, 32, openReset_.value_or(0)});
      reg.reset = openReset_.value_or(0);
    }
  }

  Map& map_;
  std::map<std::string, Template> templates_;
  std::vector<std::string> includeChain_;
  std::vector<std::string> expanding_;
  std::unordered_map<std::string, Location> names_;
  std::unordered_map<uint32_t, std::string> addresses_;
  bool nameBaseSeen_ = false;
  int lastTopLine_ = 1;
  bool open_ = false;  // the last emitted register still takes fields
  std::optional<uint32_t> openReset_;
};

}  // namespace

namespace {

bool Parse(const std::string& path, const std::string* text, Map& out, std::string& error) {
  Map map;
  try {
    Parser(map).ParseTop(path, text);
  } catch (const ParseError& e) {
    error = e.text;
    return false;
  }
  out = std::move(map);
  error.clear();
  return true;
}

}  // namespace

bool ParseMapFile(const std::string& path, Map& out, std::string& error) { return Parse(path, nullptr, out, error); }

bool ParseMapText(const std::string& text, const std::string& path, Map& out, std::string& error) {
  return Parse(path, &text, out, error);
}

}  // namespace regmap
