// SPDX-License-Identifier: Apache-2.0
#include "scenario_reader.h"

#include <cstdint>
#include <cstdio>
#include <limits>
#include <utility>
#include <vector>

#include "quoting.h"

namespace sim {
namespace {

struct Token {
  bool quoted = false;  // a string in double quotes, escapes resolved
  std::string text;
};

/// Thrown inside the reader only; becomes the ParseResult's error.
struct SyntaxError {
  std::string message;
};

constexpr Nanos kMaxTime = 1'000'000 * kNanosPerSecond;
constexpr std::uint64_t kMaxTags = 1'000'000;
constexpr std::uint64_t kMaxTagBytes = 1000;

bool IsBlank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\v' || c == '\f'; }

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

std::vector<Token> Tokenize(std::string_view line) {
  std::vector<Token> tokens;
  std::size_t i = 0;
  while (i < line.size()) {
    const char c = line[i];
    if (IsBlank(c)) {
      ++i;
    } else if (c == '#') {
      break;
    } else if (c == '"') {
      Token token{true, {}};
      ++i;
      for (;;) {
        if (i >= line.size()) throw SyntaxError{"missing closing quote"};
        const char d = line[i++];
        if (d == '"') break;
        if (d != '\\') {
          token.text += d;
          continue;
        }
        if (i >= line.size()) throw SyntaxError{"missing closing quote"};
        const char e = line[i++];
        if (e == '"' || e == '\\') {
          token.text += e;
        } else if (e == 'x' && i + 1 < line.size() && HexDigit(line[i]) >= 0 &&
                   HexDigit(line[i + 1]) >= 0) {
          token.text += static_cast<char>(HexDigit(line[i]) * 16 + HexDigit(line[i + 1]));
          i += 2;
        } else {
          const std::size_t shown = e == 'x' ? std::min<std::size_t>(2, line.size() - i) : 0;
          throw SyntaxError{"bad escape " +
                            Quote("\\" + std::string(1, e) + std::string(line.substr(i, shown))) +
                            " (use \\\", \\\\ or \\xNN)"};
        }
      }
      tokens.push_back(std::move(token));
    } else {
      Token token{false, {}};
      while (i < line.size() && !IsBlank(line[i]) && line[i] != '"' && line[i] != '#') {
        token.text += line[i++];
      }
      tokens.push_back(std::move(token));
    }
  }
  return tokens;
}

std::uint64_t ParseUnsigned(const std::string& text, std::uint64_t max) {
  const bool hex = text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X');
  const std::size_t first = hex ? 2 : 0;
  const unsigned base = hex ? 16 : 10;
  if (text.size() == first) throw SyntaxError{"bad number " + Quote(text)};
  std::uint64_t value = 0;
  for (std::size_t i = first; i < text.size(); ++i) {
    const int digit = HexDigit(text[i]);
    if (digit < 0 || static_cast<unsigned>(digit) >= base) {
      throw SyntaxError{"bad number " + Quote(text)};
    }
    if (value > (max - static_cast<unsigned>(digit)) / base) {
      throw SyntaxError{"number " + Quote(text) + " is out of range (at most " +
                        std::to_string(max) + ")"};
    }
    value = value * base + static_cast<unsigned>(digit);
  }
  return value;
}

/// The tokens of one directive, taken from left to right.
class Args {
 public:
  Args(std::vector<Token> tokens, std::string_view usage)
      : tokens_(std::move(tokens)), usage_(usage) {}

  [[noreturn]] void Malformed() const {
    throw SyntaxError{"malformed \"" + tokens_[0].text + "\"; usage: " + std::string(usage_)};
  }
  bool Done() const { return next_ == tokens_.size(); }
  void End() const {
    if (!Done()) Malformed();
  }
  const Token& Any() {
    if (Done()) Malformed();
    return tokens_[next_++];
  }
  const std::string& Word() {
    const Token& token = Any();
    if (token.quoted) Malformed();
    return token.text;
  }
  const std::string& String() {
    const Token& token = Any();
    if (!token.quoted) Malformed();
    return token.text;
  }
  void Keyword(std::string_view keyword) {
    if (Word() != keyword) Malformed();
  }
  bool NextIs(std::string_view keyword) const {
    return !Done() && !tokens_[next_].quoted && tokens_[next_].text == keyword;
  }

  std::uint64_t Unsigned(std::uint64_t max) { return ParseUnsigned(Word(), max); }
  template <typename T>
  T Number() {
    return static_cast<T>(Unsigned(std::numeric_limits<T>::max()));
  }
  std::uint32_t CallNumber() {
    const auto call = Number<std::uint32_t>();
    if (call == 0) throw SyntaxError{"call numbers count from 1"};
    return call;
  }
  /// Any 32-bit signed value: decimal or 0x-hex, with an optional '-'.
  std::int32_t Signed() {
    const std::string& text = Word();
    if (text.empty() || text[0] != '-') {
      return static_cast<std::int32_t>(
          ParseUnsigned(text, std::numeric_limits<std::int32_t>::max()));
    }
    const std::uint64_t magnitude = ParseUnsigned(text.substr(1), std::uint64_t{1} << 31);
    return static_cast<std::int32_t>(-static_cast<std::int64_t>(magnitude));
  }
  std::int32_t Status() {
    const std::int32_t status = Signed();
    if (status == 0) throw SyntaxError{"a failure status must be nonzero"};
    return status;
  }

  Nanos Time() {
    const std::string& text = Word();
    Nanos whole = 0;
    Nanos fraction = 0;
    Nanos scale = kNanosPerSecond;
    std::size_t i = 0;
    for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
      whole = whole * 10 + (text[i] - '0');
      if (whole * kNanosPerSecond > kMaxTime) {
        throw SyntaxError{"time " + Quote(text) + " is out of range (at most 1000000 seconds)"};
      }
    }
    bool fractionDigits = false;
    if (i > 0 && i < text.size() && text[i] == '.') {
      for (++i; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
        fractionDigits = true;
        if (scale == 1) throw SyntaxError{"time " + Quote(text) + " has more than 9 decimals"};
        scale /= 10;
        fraction += (text[i] - '0') * scale;
      }
      if (!fractionDigits) i = 0;  // "1." is not a time
    }
    if (i == 0 || i != text.size()) {
      throw SyntaxError{"bad time " + Quote(text) + " (seconds, e.g. 1.5)"};
    }
    // The whole seconds alone may sit at the limit while the decimals pass it.
    if (whole * kNanosPerSecond + fraction > kMaxTime) {
      throw SyntaxError{"time " + Quote(text) + " is out of range (at most 1000000 seconds)"};
    }
    return whole * kNanosPerSecond + fraction;
  }

  Op Operation() {
    const std::string& name = Word();
    if (const auto op = OpFromName(name)) return *op;
    throw SyntaxError{"unknown operation " + Quote(name)};
  }

 private:
  std::vector<Token> tokens_;
  std::string_view usage_;
  std::size_t next_ = 1;  // the directive itself is token 0
};

VersionReport ReadVersion(Args& args) {
  VersionReport report;
  report.major = args.Number<std::uint8_t>();
  report.minor = args.Number<std::uint8_t>();
  if (args.NextIs("release")) {
    args.Word();
    report.release = 1;
  } else if (args.NextIs("debug")) {
    args.Word();
    report.release = 0;
  } else {
    report.release = args.Signed();  // any 32-bit value, for hostile runs
  }
  return report;
}

/// What a directive reads into: the scenario and the bridge declared last.
struct Target {
  Scenario& scenario;
  BridgeSetup* bridge;  // null before the first bridge line
};

void ReadFail(Args& args, Target& target) {
  FailRule rule;
  rule.op = args.Operation();
  rule.status = args.Status();
  if (!args.Done()) {
    args.Keyword("call");
    rule.call = args.CallNumber();
  }
  if (IsGlobalOp(rule.op)) {
    target.scenario.failures.push_back(rule);
  } else if (target.bridge != nullptr) {
    target.bridge->failures.push_back(rule);
  } else {
    throw SyntaxError{"\"fail " + std::string(OpName(rule.op)) +
                      "\" belongs to a bridge: put it under a bridge line"};
  }
}

void ReadReadBack(Args& args, BridgeSetup& bridge) {
  const std::string field = args.Word();
  if (field == "baud") {
    bridge.readBack.baud = args.Number<std::uint32_t>();
  } else if (field == "data-bits") {
    bridge.readBack.dataBits = args.Number<std::uint8_t>();
  } else if (field == "parity") {
    bridge.readBack.parity = args.Number<std::uint8_t>();
  } else if (field == "stop-bits") {
    bridge.readBack.stopBits = args.Number<std::uint8_t>();
  } else if (field == "flow-control") {
    bridge.readBack.flowControl = args.Number<std::uint8_t>();
  } else {
    throw SyntaxError{"unknown read-back field " + Quote(field)};
  }
}

void ReadFrame(Args& args, BridgeSetup& bridge) {
  Frame frame;
  args.Keyword("at");
  frame.at = args.Time();
  if (args.NextIs("instant")) {
    args.Word();
    frame.instant = true;
  }
  while (!args.Done()) {
    const Token& token = args.Any();
    if (token.quoted) {
      frame.bytes.insert(frame.bytes.end(), token.text.begin(), token.text.end());
    } else if (token.text.size() == 2 && HexDigit(token.text[0]) >= 0 &&
               HexDigit(token.text[1]) >= 0) {
      frame.bytes.push_back(
          static_cast<std::uint8_t>(HexDigit(token.text[0]) * 16 + HexDigit(token.text[1])));
    } else {
      throw SyntaxError{"bad frame byte " + Quote(token.text) + " (two hex digits, e.g. 9A)"};
    }
  }
  if (frame.bytes.empty()) throw SyntaxError{"a frame needs at least one byte"};
  bridge.frames.push_back(std::move(frame));
}

void ReadStream(Args& args, BridgeSetup& bridge) {
  Stream stream;
  args.Keyword("at");
  stream.at = args.Time();
  args.Keyword("rate");
  stream.rate = static_cast<std::uint32_t>(args.Unsigned(1'000'000'000));
  args.Keyword("bytes");
  stream.bytes = args.Number<std::uint32_t>();
  args.Keyword("seed");
  stream.seed = args.Number<std::uint32_t>();
  if (stream.seed == 0) throw SyntaxError{"a stream seed must be nonzero"};
  bridge.streams.push_back(stream);
}

void ReadTags(Args& args, BridgeSetup& bridge) {
  TagSeries series;
  args.Keyword("at");
  series.at = args.Time();
  args.Keyword("count");
  series.count = static_cast<std::uint32_t>(args.Unsigned(kMaxTags));
  if (series.count == 0) throw SyntaxError{"tags need a count of at least 1"};
  args.Keyword("bytes");
  series.bytes = static_cast<std::uint32_t>(args.Unsigned(kMaxTagBytes));
  if (series.bytes == 0) throw SyntaxError{"a tag needs at least one byte"};
  args.Keyword("spacing");
  series.minSpacing = args.Time();
  series.maxSpacing = args.Time();
  if (series.minSpacing > series.maxSpacing) {
    throw SyntaxError{"the least spacing must not exceed the largest"};
  }
  args.Keyword("seed");
  series.seed = args.Number<std::uint32_t>();
  if (series.seed == 0) throw SyntaxError{"a tags seed must be nonzero"};
  // Keeps every tag time far from overflowing, whatever the line's rate.
  const auto gaps = static_cast<Nanos>(series.count - 1);
  if (gaps > 0 && series.maxSpacing > (kMaxTime - series.at) / gaps) {
    throw SyntaxError{"the last tag could be due after 1000000 seconds"};
  }
  bridge.tags.push_back(series);
}

void ReadUnplug(Args& args, BridgeSetup& bridge) {
  UnplugRule rule;
  const std::string& how = args.Word();
  if (how == "at") {
    rule.kind = UnplugRule::Kind::At;
    rule.at = args.Time();
  } else if (how == "after") {
    rule.kind = UnplugRule::Kind::After;
    rule.op = args.Operation();
    rule.call = args.CallNumber();
  } else if (how == "when-drained") {
    rule.kind = UnplugRule::Kind::WhenDrained;
  } else {
    args.Malformed();
  }
  bridge.unplugs.push_back(rule);
}

void ReadAttach(Args& args, BridgeSetup& bridge) {
  if (args.NextIs("at")) {
    args.Keyword("at");
    bridge.attachAt = args.Time();
    bridge.attachAfter.reset();
    return;
  }
  args.Keyword("after");
  const Op op = args.Operation();
  if (!IsGlobalOp(op)) {
    throw SyntaxError{
        "a bridge can attach only after get-num-devices, get-library-version or "
        "get-hid-library-version"};
  }
  bridge.attachAfter = AfterCall{op, args.CallNumber()};
  bridge.attachAt.reset();
}

struct Directive {
  std::string_view name;
  std::string_view usage;
  bool needsBridge;  // then target.bridge is set when read runs
  void (*read)(Args& args, Target& target);
};

// Every directive of the scenario language: a new one is one more line here.
constexpr Directive kDirectives[] = {
    {"library-version", "library-version MAJOR MINOR release|debug", false,
     [](Args& a, Target& t) { t.scenario.library = ReadVersion(a); }},
    {"hid-library-version", "hid-library-version MAJOR MINOR release|debug", false,
     [](Args& a, Target& t) { t.scenario.hidLibrary = ReadVersion(a); }},
    {"fail", "fail OPERATION STATUS [call N]", false, ReadFail},
    {"listing-takes", "listing-takes TIME", false,
     [](Args& a, Target& t) { t.scenario.listingTakes = a.Time(); }},
    {"bridge", "bridge \"SERIAL\"", false,
     [](Args& a, Target& t) {
       BridgeSetup declared;
       declared.serial = a.String();
       t.scenario.bridges.push_back(std::move(declared));
       t.bridge = &t.scenario.bridges.back();
     }},
    {"usb-id", "usb-id VENDOR-ID PRODUCT-ID", true,
     [](Args& a, Target& t) {
       t.bridge->vendorId = a.Number<std::uint16_t>();
       t.bridge->productId = a.Number<std::uint16_t>();
     }},
    {"vendor-id", "vendor-id \"TEXT\"", true,
     [](Args& a, Target& t) { t.bridge->vendorIdText = a.String(); }},
    {"product-id", "product-id \"TEXT\"", true,
     [](Args& a, Target& t) { t.bridge->productIdText = a.String(); }},
    {"path", "path \"TEXT\"", true, [](Args& a, Target& t) { t.bridge->path = a.String(); }},
    {"manufacturer", "manufacturer \"TEXT\"", true,
     [](Args& a, Target& t) { t.bridge->manufacturer = a.String(); }},
    {"product", "product \"TEXT\"", true,
     [](Args& a, Target& t) { t.bridge->product = a.String(); }},
    {"part-number", "part-number PART-NUMBER VERSION", true,
     [](Args& a, Target& t) {
       t.bridge->partNumber = a.Number<std::uint8_t>();
       t.bridge->version = a.Number<std::uint8_t>();
     }},
    {"read-back", "read-back baud|data-bits|parity|stop-bits|flow-control VALUE", true,
     [](Args& a, Target& t) { ReadReadBack(a, *t.bridge); }},
    {"frame", "frame at TIME [instant] BYTE... (two hex digits each, or \"TEXT\")", true,
     [](Args& a, Target& t) { ReadFrame(a, *t.bridge); }},
    {"tags", "tags at TIME count N bytes B spacing MIN MAX seed SEED", true,
     [](Args& a, Target& t) { ReadTags(a, *t.bridge); }},
    {"stream", "stream at TIME rate BYTES-PER-SECOND bytes COUNT seed SEED", true,
     [](Args& a, Target& t) { ReadStream(a, *t.bridge); }},
    {"read-count", "read-count N", true,
     [](Args& a, Target& t) { t.bridge->readCount = a.Number<std::uint32_t>(); }},
    {"unplug", "unplug at TIME | unplug after OPERATION N | unplug when-drained", true,
     [](Args& a, Target& t) { ReadUnplug(a, *t.bridge); }},
    {"attach", "attach after get-num-devices N | attach at TIME", true,
     [](Args& a, Target& t) { ReadAttach(a, *t.bridge); }},
};

void ReadLine(std::string_view line, Target& target) {
  std::vector<Token> tokens = Tokenize(line);
  if (tokens.empty()) return;
  if (tokens[0].quoted) throw SyntaxError{"a line must start with a directive, not a string"};
  const std::string name = tokens[0].text;
  const Directive* directive = nullptr;
  for (const Directive& candidate : kDirectives) {
    if (candidate.name == name) directive = &candidate;
  }
  if (directive == nullptr) throw SyntaxError{"unknown directive " + Quote(name)};
  if (directive->needsBridge && target.bridge == nullptr) {
    throw SyntaxError{Quote(name) + " belongs to a bridge: put it under a bridge line"};
  }
  Args args(std::move(tokens), directive->usage);
  directive->read(args, target);
  args.End();
}

}  // namespace

ParseResult ParseScenario(std::string_view text, std::string_view name) {
  ParseResult result;
  Scenario scenario;
  Target target{scenario, nullptr};
  std::size_t lineNumber = 0;
  std::size_t start = 0;
  try {
    while (start < text.size()) {
      ++lineNumber;
      std::size_t end = text.find('\n', start);
      if (end == std::string_view::npos) end = text.size();
      ReadLine(text.substr(start, end - start), target);
      start = end + 1;
    }
  } catch (const SyntaxError& error) {
    result.errorLine = lineNumber;
    result.error = std::string(name) + ":" + std::to_string(lineNumber) + ": " + error.message;
    return result;
  }
  result.scenario = std::move(scenario);
  return result;
}

ParseResult ReadScenarioFile(const std::string& path) {
  std::FILE* file = std::fopen(path.c_str(), "rb");
  std::string text;
  bool ok = file != nullptr;
  if (ok) {
    char chunk[4096];
    std::size_t got = 0;
    while ((got = std::fread(chunk, 1, sizeof chunk, file)) > 0) text.append(chunk, got);
    ok = std::ferror(file) == 0;
    std::fclose(file);
  }
  if (!ok) {
    ParseResult result;
    result.error = path + ": cannot read the scenario file";
    return result;
  }
  return ParseScenario(text, path);
}

}  // namespace sim
