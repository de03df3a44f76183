#include "sim/behaviour.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <vector>

namespace sim {

namespace {

bool StartsWith(std::span<const std::uint8_t> bytes, const Bytes& head) {
  return bytes.size() >= head.size() && std::equal(head.begin(), head.end(), bytes.begin());
}

bool EndsWith(std::span<const std::uint8_t> bytes, const Bytes& tail) {
  return bytes.size() >= tail.size() &&
         std::equal(tail.begin(), tail.end(), bytes.end() - tail.size());
}

// Takes off the slave wrapping the device expects; returns the unified frame
// inside, or an empty span with a reason.
std::span<const std::uint8_t> Unwrap(const Device& device, std::span<const std::uint8_t> bytes,
                                     std::string* reason) {
  const Bytes prefix = DecodeHex(device.slavePrefix).value_or(Bytes{});
  const Bytes suffix = DecodeHex(device.slaveSuffix).value_or(Bytes{});
  if (!StartsWith(bytes, prefix)) {
    *reason = "slave frame does not start with the prefix " + device.slavePrefix;
    return {};
  }
  bytes = bytes.subspan(prefix.size());
  if (!EndsWith(bytes, suffix)) {
    *reason = "slave frame does not end with the suffix " + device.slaveSuffix;
    return {};
  }
  bytes = bytes.first(bytes.size() - suffix.size());
  const std::size_t field = device.slaveLength == "1" ? 1 : device.slaveLength.empty() ? 0 : 2;
  if (bytes.size() < field) {
    *reason = "slave frame too short for its length field";
    return {};
  }
  std::size_t stated = 0;
  if (device.slaveLength == "1") stated = bytes[0];
  if (device.slaveLength == "2l") stated = bytes[0] * 256u + bytes[1];
  if (device.slaveLength == "2b") stated = bytes[1] * 256u + bytes[0];
  bytes = bytes.subspan(field);
  const std::size_t modulo = field == 1 ? 256 : 65536;
  if (field > 0 && stated != bytes.size() % modulo) {
    *reason = "length field says " + std::to_string(stated) + ", frame has " +
              std::to_string(bytes.size()) + " bytes";
    return {};
  }
  return bytes;
}

const Answer* FindAnswer(const Device& device, const std::string& command) {
  for (const std::string& key :
       {command, command.size() > 0 && command.back() == ';' ? command.substr(0, command.size() - 1)
                                                             : command}) {
    for (const Answer& answer : device.answers) {
      if (answer.command == key) return &answer;
    }
  }
  return nullptr;
}

std::string Escape(const std::string& text) {
  std::string out;
  for (char c : text) {
    switch (c) {
      case '&':
        out += "&amp;";
        break;
      case '<':
        out += "&lt;";
        break;
      case '>':
        out += "&gt;";
        break;
      case '"':
        out += "&quot;";
        break;
      default:
        if (static_cast<unsigned char>(c) >= 0x20) out += c;
    }
  }
  return out;
}

std::string InfoValue(const Device& device, const std::string& key) {
  const std::string full = key + (device.kind == 4 ? "=" : ":");
  const auto at = device.info.find(full);
  if (at == std::string::npos) return "";
  const auto start = at + full.size();
  const auto end = device.info.find(device.kind == 4 ? ";" : "\n", start);
  std::string value =
      device.info.substr(start, end == std::string::npos ? std::string::npos : end - start);
  const auto first = value.find_first_not_of(" \t\r\n");
  if (first == std::string::npos) return "";
  return value.substr(first, value.find_last_not_of(" \t\r\n") - first + 1);
}

void PutLittle(std::vector<std::uint8_t>& out, std::uint32_t value, int bytes) {
  for (int i = 0; i < bytes; ++i) out.push_back(static_cast<std::uint8_t>(value >> (8 * i)));
}

// A small well-formedness checker: elements nest and match, attributes are
// quoted, entities are known, one root element.
struct XmlReader {
  const std::string& text;
  std::size_t at = 0;

  bool Done() const { return at >= text.size(); }
  bool Take(const char* word) {
    if (text.compare(at, std::strlen(word), word) != 0) return false;
    at += std::strlen(word);
    return true;
  }
  void SkipBlanks() {
    while (!Done() && std::isspace(static_cast<unsigned char>(text[at]))) ++at;
  }
  bool SkipPast(const char* end) {
    const auto found = text.find(end, at);
    if (found == std::string::npos) return false;
    at = found + std::strlen(end);
    return true;
  }
  std::string Name() {
    const std::size_t start = at;
    while (!Done() && (std::isalnum(static_cast<unsigned char>(text[at])) ||
                       std::strchr("_-.:", text[at]) != nullptr)) {
      ++at;
    }
    return text.substr(start, at - start);
  }
  bool Entity() {
    for (const char* e : {"&amp;", "&lt;", "&gt;", "&quot;", "&apos;"}) {
      if (Take(e)) return true;
    }
    if (!Take("&#")) return false;
    return SkipPast(";");
  }
  // Comments and processing instructions between elements.
  bool Misc() {
    if (Take("<!--")) return SkipPast("-->");
    if (Take("<?")) return SkipPast("?>");
    return false;
  }
  std::string Element() {
    if (!Take("<")) return "expected an element";
    const std::string name = Name();
    if (name.empty()) return "element without a name";
    for (;;) {
      SkipBlanks();
      if (Take("/>")) return "";
      if (Take(">")) break;
      if (Name().empty()) return "malformed attribute in <" + name + ">";
      SkipBlanks();
      if (!Take("=")) return "attribute without a value in <" + name + ">";
      SkipBlanks();
      if (Done() || (text[at] != '"' && text[at] != '\'')) {
        return "unquoted attribute in <" + name + ">";
      }
      const char quote = text[at++];
      const auto end = text.find(quote, at);
      if (end == std::string::npos) return "unterminated attribute in <" + name + ">";
      at = end + 1;
    }
    for (;;) {
      if (Done()) return "element <" + name + "> is not closed";
      if (Take("</")) {
        if (Name() != name) return "closing tag does not match <" + name + ">";
        SkipBlanks();
        return Take(">") ? "" : "malformed closing tag of <" + name + ">";
      }
      if (Misc()) continue;
      if (text.compare(at, 9, "<![CDATA[") == 0) {
        if (!SkipPast("]]>")) return "unterminated CDATA section";
        continue;
      }
      if (text[at] == '<') {
        const std::string inner = Element();
        if (!inner.empty()) return inner;
        continue;
      }
      if (text[at] == '&') {
        if (!Entity()) return "unknown entity in <" + name + ">";
        continue;
      }
      ++at;
    }
  }
};

}  // namespace

std::optional<std::string> ParseUnifiedFrame(std::span<const std::uint8_t> frame,
                                             std::string* reason) {
  static const Bytes kStart = {0x7E, 0x01, '0', '0', '0', '0'};
  static const Bytes kEnd = {0x3B, 0x03};
  if (frame.size() < 9) {
    *reason = "frame of " + std::to_string(frame.size()) + " bytes is too short";
    return std::nullopt;
  }
  if (!StartsWith(frame, kStart)) {
    *reason = "frame does not start with 7E 01 30 30 30 30";
    return std::nullopt;
  }
  if (frame[6] != '@' && frame[6] != '#') {
    *reason = "frame marker is neither '@' nor '#'";
    return std::nullopt;
  }
  if (!EndsWith(frame, kEnd)) {
    *reason = "frame does not end with 3B 03";
    return std::nullopt;
  }
  std::string command(frame.begin() + 7, frame.end() - 2);
  if (frame[6] == '#') command.insert(command.begin(), '#');
  return command;
}

std::string Receive(Device& device, std::span<const std::uint8_t> bytes) {
  for (const Replay& replay : device.replays) {
    if (std::equal(bytes.begin(), bytes.end(), replay.request.begin(), replay.request.end())) {
      if (replay.response) {
        for (const Bytes& piece : *replay.response) device.pending.push_back({piece});
      }
      return "";
    }
  }
  std::string reason;
  const std::span<const std::uint8_t> frame = device.slave ? Unwrap(device, bytes, &reason) : bytes;
  if (!reason.empty()) return reason;
  const std::optional<std::string> command = ParseUnifiedFrame(frame, &reason);
  if (!command) return reason;
  if (device.silent) return "";
  const Answer* answer = FindAnswer(device, *command);
  if (answer != nullptr) {
    for (const Piece& piece : answer->pieces) {
      device.pending.push_back({piece.bytes, piece.fillAt, piece.fillSize});
    }
  } else if (!device.unknownAnswer.empty()) {
    device.pending.push_back({device.unknownAnswer});
  }
  return "";
}

std::uint8_t PicturePixel(unsigned x, unsigned y) {
  if (x % 64 == 0 || y % 64 == 0) return 255;
  return static_cast<std::uint8_t>((x + y / 4) & 0xFF);
}

std::string WriteBmp(const char* path, const std::uint8_t* pixels, unsigned width,
                     unsigned height) {
  const std::uint32_t stride = (width + 3) / 4 * 4;
  const std::uint32_t headers = 14 + 40 + 256 * 4;
  const std::uint64_t fileSize = headers + std::uint64_t{stride} * height;
  if (fileSize > 0xFFFFFFFFu) return "picture too large for a BMP file";
  std::vector<std::uint8_t> out;
  out.reserve(fileSize);
  out.push_back('B');
  out.push_back('M');
  PutLittle(out, static_cast<std::uint32_t>(fileSize), 4);
  PutLittle(out, 0, 4);
  PutLittle(out, headers, 4);
  PutLittle(out, 40, 4);  // BITMAPINFOHEADER
  PutLittle(out, width, 4);
  PutLittle(out, height, 4);  // positive: rows bottom-up
  PutLittle(out, 1, 2);
  PutLittle(out, 8, 2);
  PutLittle(out, 0, 4);  // no compression
  PutLittle(out, stride * height, 4);
  PutLittle(out, 2835, 4);  // 72 dpi
  PutLittle(out, 2835, 4);
  PutLittle(out, 256, 4);
  PutLittle(out, 0, 4);
  for (std::uint32_t grey = 0; grey < 256; ++grey) {
    PutLittle(out, grey | grey << 8 | grey << 16, 4);
  }
  for (unsigned row = height; row-- > 0;) {
    const std::uint8_t* line = pixels + std::size_t{row} * width;
    out.insert(out.end(), line, line + width);
    out.insert(out.end(), stride - width, 0);
  }
  std::FILE* file = std::fopen(path, "wb");
  if (file == nullptr) return std::string("cannot create ") + path + ": " + std::strerror(errno);
  const bool written = std::fwrite(out.data(), 1, out.size(), file) == out.size();
  const bool closed = std::fclose(file) == 0;
  return written && closed ? "" : std::string("cannot write ") + path;
}

std::string CheckXml(const std::string& text) {
  XmlReader reader{text};
  reader.Take("\xEF\xBB\xBF");
  for (;;) {
    reader.SkipBlanks();
    if (!reader.Misc()) break;
  }
  if (reader.Done()) return "no root element";
  const std::string problem = reader.Element();
  if (!problem.empty()) return problem;
  for (;;) {
    reader.SkipBlanks();
    if (reader.Done()) return "";
    if (!reader.Misc()) return "content after the root element";
  }
}

std::string RefuseConfiguration(const Device& device, const char* path) {
  if (device.importConfig.fails) return device.importConfig.reason;
  if (path == nullptr) return "no configuration file given";
  errno = 0;
  const std::optional<std::string> content = ReadFile(path);
  if (!content) {
    return std::string("cannot open configuration file ") + path + ": " +
           std::strerror(errno ? errno : EIO);
  }
  if (content->find_first_not_of(" \t\r\n") == std::string::npos) {
    return std::string("configuration file ") + path + " is empty";
  }
  const std::string problem = CheckXml(*content);
  if (problem.empty()) return "";
  return std::string("configuration file ") + path + " is not well-formed XML: " + problem;
}

std::string ConfigurationXml(const Device& device) {
  std::string xml = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n";
  xml += "<configuration product=\"" + Escape(InfoValue(device, "Product Name")) + "\" serial=\"" +
         Escape(InfoValue(device, "Serial Number")) + "\" firmware=\"" +
         Escape(InfoValue(device, "Firmware Version")) + "\">\n";
  xml += "  <setting name=\"readtimeout\">2000</setting>\n";
  xml += "  <setting name=\"exposure\">120</setting>\n";
  xml += "  <setting name=\"gain\">4</setting>\n";
  xml += "  <setting name=\"trigger\">continuous</setting>\n";
  xml += "  <picture width=\"" + std::to_string(device.pictureWidth) + "\" height=\"" +
         std::to_string(device.pictureHeight) + "\"/>\n";
  xml += "</configuration>\n";
  return xml;
}

}  // namespace sim
