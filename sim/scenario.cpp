#include "sim/scenario.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <cstring>

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

// Applies one "key = value" line to the device. Returns "" or why the line
// cannot be taken.
std::string ApplyDeviceKey(const std::string& key, const std::string& value, Device* device) {
  if (key == "info") {
    device->info = Unescape(value);
  } else if (key == "info.unterminated") {
    return ParseYes(value, &device->infoUnterminated);
  } else if (key == "kind") {
    char* end = nullptr;
    const long kind = std::strtol(value.c_str(), &end, 10);
    device->kind = static_cast<std::int32_t>(kind);
    if (value.empty() || *end != '\0') return "kind must be a whole number";
  } else if (key == "vid" || key == "pid") {
    if (!IsHexId(value)) return key + " must be four hex digits";
    (key == "vid" ? device->vid : device->pid) = value;
  } else if (key == "getinfo" || key == "open" || key == "write") {
    bool& flag = key == "getinfo" ? device->infoFails
                 : key == "open"  ? device->openFails
                                  : device->writeFails;
    return ParseEither(value, "fail", "ok", &flag);
  } else if (key == "read") {
    if (value == "normal") {
      device->read = ReadMode::kNormal;
    } else if (value == "error") {
      device->read = ReadMode::kError;
    } else if (value == "overclaim") {
      device->read = ReadMode::kOverclaim;
    } else {
      return "expected normal, error or overclaim";
    }
  } else if (key == "silent") {
    return ParseYes(value, &device->silent);
  } else if (key == "slave") {
    const std::vector<std::string> parts = Words(value);
    if (parts.size() != 3) return "expected PREFIX LEN SUFFIX (- for a part left out)";
    device->slavePrefix = parts[0] == "-" ? "" : parts[0];
    device->slaveLength = parts[1] == "-" ? "" : parts[1];
    device->slaveSuffix = parts[2] == "-" ? "" : parts[2];
    device->slave = true;
    const std::string& length = device->slaveLength;
    if (!length.empty() && length != "1" && length != "2l" && length != "2b") {
      return "the length type must be 1, 2l, 2b or -";
    }
    if (!DecodeHex(device->slavePrefix) || !DecodeHex(device->slaveSuffix)) {
      return "prefix and suffix must be hex digit pairs (or -)";
    }
  } else if (key.rfind("answer ", 0) == 0) {
    auto pieces = ParsePieces(value);
    if (!pieces) return "expected HEX [| HEX ...] or fill N in M";
    device->answers.push_back({Trim(key.substr(7)), std::move(*pieces)});
  } else if (key == "unknown") {
    auto bytes = DecodeHex(value);
    if (!bytes) return "expected hex digit pairs";
    device->unknownAnswer = std::move(*bytes);
  } else if (key == "picture") {
    if (value == "fail") {
      device->pictureSizeFails = true;
      return "";
    }
    const auto x = value.find('x');
    if (x == std::string::npos || !ParseUnsigned(value.substr(0, x), &device->pictureWidth) ||
        !ParseUnsigned(value.substr(x + 1), &device->pictureHeight)) {
      return "expected WIDTHxHEIGHT or fail";
    }
  } else if (key == "picdata") {
    return ParseEither(value, "fail", "ok", &device->pictureDataFails);
  } else if (key == "firmware") {
    if (!ParseFailure(value, true, &device->firmware)) return "expected fail STATUS REASON";
  } else if (key == "export" || key == "import") {
    if (!ParseFailure(value, false,
                      key == "export" ? &device->exportConfig : &device->importConfig)) {
      return "expected fail REASON";
    }
  } else {
    return "unknown setting " + key;
  }
  return "";
}

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
      } else if (key == "count") {
        unsigned count = 0;
        if (!ParseUnsigned(value, &count)) problem = "count must be a whole number";
        scenario.count = count;
      } else if (key == "list") {
        problem = ParseEither(value, "null", "ok", &scenario.nullList);
      } else if (key == "lasterror") {
        problem = ParseEither(value, "null", "text", &scenario.nullLastError);
      } else if (key.rfind("slow ", 0) == 0) {
        unsigned milliseconds = 0;
        if (value != "forever" && !ParseUnsigned(value, &milliseconds)) {
          problem = "expected milliseconds or forever";
        }
        scenario.slowCalls.push_back(
            {Trim(key.substr(5)), value == "forever" ? kForever : long{milliseconds}});
      } else if (key == "thread") {
        problem = ParseYes(value, &scenario.thread);
      } else if (key == "crash") {
        scenario.crash = value;
        if (value != "unload" && value.rfind("tq_", 0) != 0) problem = "expected tq_NAME or unload";
      } else if (scenario.devices.empty()) {
        problem = "a device setting belongs after [device]";
      } else {
        problem = ApplyDeviceKey(key, value, &scenario.devices.back());
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
