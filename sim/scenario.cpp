#include "sim/scenario.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string_view>

#include "sim/journal.h"

namespace sim {

const char* const kDefaultScenario =
    "[device]\n"
    "info = Product Name: TV-200 Scanner\\r\\nSerial Number: TV2024A0117\\r\\n"
    "Firmware Version: 3.4.1\\r\\n\n"
    "kind = 0\n"
    "vid = 1a2b\n"
    "pid = 3c4d\n"
    "answer RRDDUR2000 = 06 0D\n"
    "answer RRDDUR = 52 52 44 44 55 52 32 30 30 30 0D\n"
    "answer RDVER = 33 2E 34 2E 31 0D\n"
    "answer #BEEP = 06 0D\n";

namespace {

// Pieces of `text` between `separator`s; the streams' machinery would cost
// the simulated library more memory than the tool it serves.
std::vector<std::string> Split(const std::string& text, char separator) {
  std::vector<std::string> parts;
  std::size_t start = 0;
  for (std::size_t at; (at = text.find(separator, start)) != std::string::npos; start = at + 1) {
    parts.push_back(text.substr(start, at - start));
  }
  parts.push_back(text.substr(start));
  return parts;
}

// Blank-separated words.
std::vector<std::string> Words(const std::string& text) {
  std::vector<std::string> words;
  for (std::string& word : Split(text, ' ')) {
    if (!word.empty()) words.push_back(std::move(word));
  }
  return words;
}

std::string Trim(const std::string& text) {
  const auto first = text.find_first_not_of(" \t\r");
  if (first == std::string::npos) return "";
  return text.substr(first, text.find_last_not_of(" \t\r") - first + 1);
}

bool ParseUnsigned(const std::string& text, unsigned* value) {
  if (text.empty() || !std::isdigit(static_cast<unsigned char>(text[0]))) return false;
  char* end = nullptr;
  const unsigned long parsed = std::strtoul(text.c_str(), &end, 10);
  if (*end != '\0' || parsed > 0xFFFFFFFFul) return false;
  *value = static_cast<unsigned>(parsed);
  return true;
}

// "fail REASON" or, with a status, "fail STATUS REASON".
bool ParseFailure(const std::string& value, bool withStatus, Failure* failure) {
  const std::vector<std::string> words = Words(value);
  const std::size_t fixed = withStatus ? 2 : 1;
  if (words.size() < fixed || words[0] != "fail") return false;
  if (withStatus && !ParseUnsigned(words[1], &failure->status)) return false;
  failure->fails = true;
  for (std::size_t i = fixed; i < words.size(); ++i) {
    failure->reason += (i > fixed ? " " : "") + words[i];
  }
  return true;
}

// "HEX | HEX | ..." or "fill SIZE in PIECE".
std::optional<std::vector<Piece>> ParsePieces(const std::string& value) {
  std::vector<Piece> pieces;
  const std::vector<std::string> words = Words(value);
  if (!words.empty() && words[0] == "fill") {
    unsigned size = 0;
    unsigned piece = 0;
    if (words.size() != 4 || words[2] != "in" || !ParseUnsigned(words[1], &size) ||
        !ParseUnsigned(words[3], &piece) || piece == 0) {
      return std::nullopt;
    }
    for (unsigned at = 0; at < size; at += piece) {
      pieces.push_back({{}, at, std::min(piece, size - at)});
    }
    return pieces;
  }
  for (const std::string& part : Split(value, '|')) {
    auto bytes = DecodeHex(part);
    if (!bytes || bytes->empty()) return std::nullopt;
    pieces.push_back({std::move(*bytes)});
  }
  return pieces;
}

// "" when the value is "yes" or "no" (stored in *flag), otherwise why not.
std::string ParseYes(const std::string& value, bool* flag) {
  *flag = value == "yes";
  return value == "yes" || value == "no" ? "" : "expected yes or no";
}

// "" when the value is one of two words (the first sets *flag).
std::string ParseEither(const std::string& value, const char* set, const char* unset, bool* flag) {
  *flag = value == set;
  if (value == set || value == unset) return "";
  return std::string("expected ") + set + " or " + unset;
}

bool IsHexId(const std::string& value) {
  return value.size() == 4 && std::all_of(value.begin(), value.end(), [](char c) {
           return std::isxdigit(static_cast<unsigned char>(c)) != 0;
         });
}

using Text = const std::string&;

// The settings that differ only in the field they set.
template <bool Device::*flag>
std::string Fails(Text, Text value, Device& device) {
  return ParseEither(value, "fail", "ok", &(device.*flag));
}
template <typename Target, bool Target::*flag>
std::string Yes(Text, Text value, Target& target) {
  return ParseYes(value, &(target.*flag));
}

template <std::string Device::*id>
std::string HexId(Text key, Text value, Device& device) {
  if (!IsHexId(value)) return key + " must be four hex digits";
  device.*id = value;
  return "";
}

template <Failure Device::*failure>
std::string FailsWith(Text, Text value, Device& device) {
  return ParseFailure(value, false, &(device.*failure)) ? "" : "expected fail REASON";
}

std::string ParseRead(Text, Text value, Device& device) {
  static const std::pair<const char*, ReadMode> kModes[] = {{"normal", ReadMode::kNormal},
                                                            {"error", ReadMode::kError},
                                                            {"overclaim", ReadMode::kOverclaim}};
  for (const auto& [name, mode] : kModes) {
    if (value == name) {
      device.read = mode;
      return "";
    }
  }
  return "expected normal, error or overclaim";
}

std::string ParseSlave(Text, Text value, Device& device) {
  const std::vector<std::string> parts = Words(value);
  if (parts.size() != 3) return "expected PREFIX LEN SUFFIX (- for a part left out)";
  device.slavePrefix = parts[0] == "-" ? "" : parts[0];
  device.slaveLength = parts[1] == "-" ? "" : parts[1];
  device.slaveSuffix = parts[2] == "-" ? "" : parts[2];
  device.slave = true;
  const std::string& length = device.slaveLength;
  if (!length.empty() && length != "1" && length != "2l" && length != "2b") {
    return "the length type must be 1, 2l, 2b or -";
  }
  if (!DecodeHex(device.slavePrefix) || !DecodeHex(device.slaveSuffix)) {
    return "prefix and suffix must be hex digit pairs (or -)";
  }
  return "";
}

std::string ParsePicture(Text, Text value, Device& device) {
  if (value == "fail") {
    device.pictureSizeFails = true;
    return "";
  }
  const auto x = value.find('x');
  if (x == std::string::npos || !ParseUnsigned(value.substr(0, x), &device.pictureWidth) ||
      !ParseUnsigned(value.substr(x + 1), &device.pictureHeight)) {
    return "expected WIDTHxHEIGHT or fail";
  }
  return "";
}

// The entry points that take a device and can fail as a device that did not
// answer.
const char* const kFlakyCalls[] = {
    "tq_OpenDevice",      "tq_Write",         "tq_Read",
    "tq_GetPicSize",      "tq_GetPicData",    "tq_UpdateKernelDevice",
    "tq_ReadDevCfgToXml", "tq_WriteCfgToDev", "tq_WriteCfgToSlaveDev"};

std::string ParseFlaky(Text key, Text value, Device& device) {
  FlakyCall flaky{Trim(key.substr(6))};
  if (std::find(std::begin(kFlakyCalls), std::end(kFlakyCalls), flaky.call) ==
      std::end(kFlakyCalls)) {
    std::string calls;
    for (const char* call : kFlakyCalls) calls += std::string(calls.empty() ? "" : ", ") + call;
    return "a flaky call is one of " + calls;
  }
  if (!ParseUnsigned(value, &flaky.times)) return "expected a whole number of failing calls";
  std::erase_if(device.flaky, [&](const FlakyCall& old) { return old.call == flaky.call; });
  device.flaky.push_back(flaky);
  return "";
}

// One key of a scenario and what takes its value: it returns "" or why the
// line cannot be taken. A key that ends in a blank is a prefix: "answer "
// takes "answer RDVER".
template <typename Target>
struct Key {
  const char* name;
  std::string (*apply)(Text key, Text value, Target& target);
};

template <typename Target, std::size_t N>
const Key<Target>* FindKey(const Key<Target> (&keys)[N], Text key) {
  for (const Key<Target>& row : keys) {
    const std::string_view name = row.name;
    if (key == name || (name.ends_with(' ') && key.starts_with(name))) return &row;
  }
  return nullptr;
}

// The settings of a device, after its [device] line.
static const Key<Device> kDeviceKeys[] = {
    {"info",
     [](Text, Text value, Device& device) {
       device.info = Unescape(value);
       return std::string();
     }},
    {"info.unterminated", Yes<Device, &Device::infoUnterminated>},
    {"kind",
     [](Text, Text value, Device& device) -> std::string {
       char* end = nullptr;
       device.kind = static_cast<std::int32_t>(std::strtol(value.c_str(), &end, 10));
       return value.empty() || *end != '\0' ? "kind must be a whole number" : "";
     }},
    {"vid", HexId<&Device::vid>},
    {"pid", HexId<&Device::pid>},
    {"getinfo", Fails<&Device::infoFails>},
    {"open", Fails<&Device::openFails>},
    {"write", Fails<&Device::writeFails>},
    {"read", ParseRead},
    {"silent", Yes<Device, &Device::silent>},
    {"slave", ParseSlave},
    {"answer ",
     [](Text key, Text value, Device& device) -> std::string {
       auto pieces = ParsePieces(value);
       if (!pieces) return "expected HEX [| HEX ...] or fill N in M";
       device.answers.push_back({Trim(key.substr(7)), std::move(*pieces)});
       return "";
     }},
    {"unknown",
     [](Text, Text value, Device& device) -> std::string {
       auto bytes = DecodeHex(value);
       if (!bytes) return "expected hex digit pairs";
       device.unknownAnswer = std::move(*bytes);
       return "";
     }},
    {"picture", ParsePicture},
    {"picdata", Fails<&Device::pictureDataFails>},
    {"firmware",
     [](Text, Text value, Device& device) -> std::string {
       return ParseFailure(value, true, &device.firmware) ? "" : "expected fail STATUS REASON";
     }},
    {"export", FailsWith<&Device::exportConfig>},
    {"import", FailsWith<&Device::importConfig>},
    {"flaky ", ParseFlaky},
};

// The settings of the library, anywhere in the file.
static const Key<Scenario> kLibraryKeys[] = {
    {"count",
     [](Text, Text value, Scenario& scenario) -> std::string {
       unsigned count = 0;
       if (!ParseUnsigned(value, &count)) return "count must be a whole number";
       scenario.count = count;
       return "";
     }},
    {"list",
     [](Text, Text value, Scenario& scenario) {
       return ParseEither(value, "null", "ok", &scenario.nullList);
     }},
    {"lasterror",
     [](Text, Text value, Scenario& scenario) {
       return ParseEither(value, "null", "text", &scenario.nullLastError);
     }},
    {"slow ",
     [](Text key, Text value, Scenario& scenario) -> std::string {
       unsigned milliseconds = 0;
       const bool forever = value == "forever";
       if (!forever && !ParseUnsigned(value, &milliseconds)) {
         return "expected milliseconds or forever";
       }
       scenario.slowCalls.push_back({Trim(key.substr(5)), forever ? kForever : long{milliseconds}});
       return "";
     }},
    {"thread", Yes<Scenario, &Scenario::thread>},
    {"crash",
     [](Text, Text value, Scenario& scenario) -> std::string {
       if (value != "unload" && !value.starts_with("tq_")) return "expected tq_NAME or unload";
       scenario.crash = value;
       return "";
     }},
    {"signals",
     [](Text, Text value, Scenario& scenario) {
       return ParseEither(value, "claim", "leave", &scenario.claimSignals);
     }},
};

// A trace line as the tool prints it: "Request:7E 01 ", "Response:06 0D ",
// "Response: time out". Returns "" or why it cannot be taken.
std::string ApplyTraceLine(const std::string& line, bool* awaitingResponse, Device* device) {
  if (line.rfind("Request:", 0) == 0) {
    if (*awaitingResponse) return "the Request: before has no Response: line";
    auto bytes = DecodeHex(line.substr(8));
    if (!bytes) return "expected hex digit pairs after Request:";
    device->replays.push_back({std::move(*bytes), std::nullopt});
    *awaitingResponse = true;
    return "";
  }
  if (!*awaitingResponse) return "a Response: line must follow a Request: line";
  *awaitingResponse = false;
  const std::string rest = Trim(line.substr(9));
  if (rest == "time out") return "";
  auto bytes = DecodeHex(rest);
  if (!bytes) return "expected hex digit pairs or time out after Response:";
  device->replays.back().response = std::vector<Bytes>{std::move(*bytes)};
  return "";
}

// Lines of the tool's own output that say nothing about the device: pasted
// with a session, they are passed over.
bool IsToolOutput(const std::string& line) {
  return line.rfind("prefix=", 0) == 0 || line.rfind("pid:", 0) == 0 ||
         (!line.empty() && std::isdigit(static_cast<unsigned char>(line[0])) &&
          line.find(" SN:") != std::string::npos &&
          line.find(" Fireware Ver:") != std::string::npos);
}

}  // namespace

void FillPattern(std::size_t at, std::uint8_t* out, std::size_t count) {
  // One period (256 bytes) from the right phase, then copies of what is
  // already written, doubling: a few long copies at memory speed.
  std::size_t filled = std::min<std::size_t>(count, 256);
  for (std::size_t i = 0; i < filled; ++i) out[i] = static_cast<std::uint8_t>((at + i) * 7 + 1);
  while (filled < count) {
    const std::size_t run = std::min(filled, count - filled);
    std::memcpy(out + filled, out, run);
    filled += run;
  }
}

std::optional<Bytes> DecodeHex(const std::string& text) {
  Bytes bytes;
  int high = -1;
  for (char c : text) {
    if (c == ' ' || c == '\t') {
      if (high >= 0) return std::nullopt;
      continue;
    }
    if (!std::isxdigit(static_cast<unsigned char>(c))) return std::nullopt;
    const int digit = std::isdigit(static_cast<unsigned char>(c))
                          ? c - '0'
                          : std::tolower(static_cast<unsigned char>(c)) - 'a' + 10;
    if (high < 0) {
      high = digit;
    } else {
      bytes.push_back(static_cast<std::uint8_t>(high * 16 + digit));
      high = -1;
    }
  }
  if (high >= 0) return std::nullopt;
  return bytes;
}

std::string Unescape(const std::string& text) {
  std::string out;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] != '\\' || i + 1 == text.size()) {
      out += text[i];
      continue;
    }
    const char c = text[++i];
    if (c == 'r')
      out += '\r';
    else if (c == 'n')
      out += '\n';
    else if (c == 't')
      out += '\t';
    else if (c == 'x' && i + 2 < text.size() &&
             std::isxdigit(static_cast<unsigned char>(text[i + 1])) &&
             std::isxdigit(static_cast<unsigned char>(text[i + 2]))) {
      out += static_cast<char>(std::stoi(text.substr(i + 1, 2), nullptr, 16));
      i += 2;
    } else {
      out += c;
    }
  }
  return out;
}

std::optional<std::string> ReadFile(const char* path) {
  std::FILE* file = std::fopen(path, "rb");
  if (file == nullptr) return std::nullopt;
  std::string content;
  char chunk[4096];
  std::size_t n;
  while ((n = std::fread(chunk, 1, sizeof chunk, file)) > 0) content.append(chunk, n);
  const bool failed = std::ferror(file) != 0;
  std::fclose(file);
  if (failed) return std::nullopt;
  return content;
}

Scenario LoadScenario() {
  std::string text = kDefaultScenario;
  const char* path = std::getenv("TOLVARINE_SIM");
  if (path != nullptr && *path != '\0') {
    const std::optional<std::string> content = ReadFile(path);
    if (!content) {
      std::fprintf(stderr, "Tolvarine.so (simulated): cannot read scenario %s\n", path);
      Journal("scenario rejected: cannot read %s", path);
      return {};
    }
    text = *content;
  }
  std::string error;
  std::optional<Scenario> scenario = ParseScenario(text, &error);
  if (scenario) return std::move(*scenario);
  std::fprintf(stderr, "Tolvarine.so (simulated): %s: %s\n", path, error.c_str());
  Journal("scenario rejected: %s", error.c_str());
  return {};
}

std::optional<Scenario> ParseScenario(const std::string& text, std::string* error) {
  Scenario scenario;
  int number = 0;
  bool awaitingResponse = false;
  for (const std::string& raw : Split(text, '\n')) {
    ++number;
    std::string line = Trim(raw);
    // A menu answered in the session leaves "Select=" in front of the trace.
    if (line.rfind("Select=", 0) == 0) line = Trim(line.substr(7));
    if (line.empty() || line[0] == '#' || IsToolOutput(line)) continue;
    std::string problem;
    if (line == "[device]") {
      scenario.devices.emplace_back();
    } else if (line.rfind("Request:", 0) == 0 || line.rfind("Response:", 0) == 0) {
      problem = scenario.devices.empty()
                    ? "a trace line belongs to a [device]"
                    : ApplyTraceLine(line, &awaitingResponse, &scenario.devices.back());
    } else {
      const auto equals = line.find(" = ");
      const std::string key = equals == std::string::npos ? line : line.substr(0, equals);
      const std::string value = equals == std::string::npos ? "" : Trim(line.substr(equals + 3));
      if (equals == std::string::npos) {
        problem = "expected KEY = VALUE (with a space on each side of =)";
      } else if (const Key<Scenario>* setting = FindKey(kLibraryKeys, key)) {
        problem = setting->apply(key, value, scenario);
      } else if (scenario.devices.empty()) {
        problem = "a device setting belongs after [device]";
      } else if (const Key<Device>* setting = FindKey(kDeviceKeys, key)) {
        problem = setting->apply(key, value, scenario.devices.back());
      } else {
        problem = "unknown setting " + key;
      }
    }
    if (problem.empty() && awaitingResponse && line.rfind("Request:", 0) != 0 &&
        line.rfind("Response:", 0) != 0) {
      problem = "the Request: before has no Response: line";
    }
    if (!problem.empty()) {
      *error = "scenario line " + std::to_string(number) + ": " + problem + ": " + line;
      return std::nullopt;
    }
  }
  if (awaitingResponse) {
    *error =
        "scenario line " + std::to_string(number) + ": the last Request: has no Response: line";
    return std::nullopt;
  }
  return scenario;
}

}  // namespace sim
