#include "process/outcome.h"

#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "process/streams.h"

namespace {

constexpr std::size_t kTextSize = 4096;

struct Kept {
  char text[kTextSize];
  std::size_t size;
};

int g_json = -1;  // read once
Kept g_message, g_error, g_file;
RunDetails g_details;

std::string_view Keep(Kept& kept, std::string_view text) {
  kept.size = std::min(text.size(), sizeof kept.text);
  std::memcpy(kept.text, text.data(), kept.size);
  return {kept.text, kept.size};
}

std::span<const std::uint8_t> Copy(std::span<const std::uint8_t> bytes) {
  auto* copy = static_cast<std::uint8_t*>(std::malloc(bytes.empty() ? 1 : bytes.size()));
  if (copy == nullptr) return {};
  std::memcpy(copy, bytes.data(), bytes.size());
  return {copy, bytes.size()};
}

void AppendMessage(std::string_view text) {
  const std::size_t room = sizeof g_message.text - g_message.size;
  const std::size_t taken = std::min(room, text.size());
  std::memcpy(g_message.text + g_message.size, text.data(), taken);
  g_message.size += taken;
  g_details.message = {g_message.text, g_message.size};
}

}  // namespace

int ExitStatus(Outcome outcome) {
  const char* wanted = std::getenv("TOLVARINE_EXIT_STATUS");
  if (wanted == nullptr || std::string_view(wanted) != "1") return 0;
  return static_cast<int>(outcome);
}

bool ReportsAsJson() {
  if (g_json < 0) {
    const char* format = std::getenv("TOLVARINE_JSON");
    g_json = format != nullptr && std::string_view(format) == "1";
  }
  return g_json == 1;
}

void SayOutcome(std::string_view text, std::string_view end) {
  if (ReportsAsJson()) {
    AppendMessage(text);
    return;
  }
  std::fwrite(text.data(), 1, text.size(), stdout);
  std::fwrite(end.data(), 1, end.size(), stdout);
}

// The text `format` makes, cut to kTextSize - 1 characters, in `text`.
__attribute__((format(printf, 2, 0))) std::string_view Format(std::span<char, kTextSize> text,
                                                              const char* format,
                                                              va_list arguments) {
  const int length = std::vsnprintf(text.data(), text.size(), format, arguments);
  return {text.data(), length < 0 ? 0 : std::min(static_cast<std::size_t>(length), kTextSize - 1)};
}

void SayOutcomeFormat(const char* format, ...) {
  char text[kTextSize];
  va_list arguments;
  va_start(arguments, format);
  const std::string_view said = Format(text, format, arguments);
  va_end(arguments);
  SayOutcome(said);
}

void ReportFailure(const char* format, ...) {
  char text[kTextSize];
  va_list arguments;
  va_start(arguments, format);
  const std::string_view said = Format(text, format, arguments);
  va_end(arguments);
  ReportError("%.*s", static_cast<int>(said.size()), said.data());
  if (ReportsAsJson()) AppendMessage(said);
}

const RunDetails& Details() { return g_details; }

void NoteLibraryError(const char* text) {
  g_details.errorAsked = true;
  if (text != nullptr && *text != '\0') g_details.error = Keep(g_error, text);
}

void NoteFile(const char* path) { g_details.file = Keep(g_file, path); }

void NoteUpdateError(unsigned status) { g_details.updateError = status; }

void NoteRequest(std::span<const std::uint8_t> request) {
  if (!ReportsAsJson()) return;
  g_details.exchanged = true;
  g_details.request = Copy(request);
}

void NoteResponse(std::span<const std::uint8_t> response) {
  if (ReportsAsJson()) g_details.response = Copy(response);
}
