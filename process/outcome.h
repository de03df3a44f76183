// What a run achieved: its outcome, the text that tells it, and the details
// a result line reports. Text mode (the default) prints the text as it
// comes; with TOLVARINE_JSON=1 standard output carries JSON only, and the
// run flow writes one result line from what is kept here.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string_view>

// Each step that prints an outcome returns it too; the run flow hands the
// outcome of the run to main. The values are the exit codes.
enum class Outcome {
  kDone = 0,       // the command did what was asked
  kFailed = 1,     // the device or the library reported a failure
  kRefused = 2,    // the command line was refused; nothing was sent
  kNoDevice = 3,   // there was no device to act on
  kNoLibrary = 4,  // the device library could not be used
  kBusy = 5,       // another TolvarineCli holds the device
};

// The exit status of a run that ended by itself: the outcome's code when
// the environment holds TOLVARINE_EXIT_STATUS=1 exactly, otherwise 0, so
// that scripts written for status 0 see no change.
int ExitStatus(Outcome outcome);

// True when the environment holds TOLVARINE_JSON=1 exactly (the format's
// version; any other value leaves text mode). Async-signal-safe once read.
bool ReportsAsJson();

// The text that tells the outcome: in text mode `text` and `end` go to
// standard output; in JSON mode `text` is appended to the result's
// message (its first 4 KiB) and `end` is dropped.
void SayOutcome(std::string_view text, std::string_view end = "\n");
// The same, formatted as printf does, ended by "\n".
void SayOutcomeFormat(const char* format, ...) __attribute__((format(printf, 1, 2)));

// Prints a loader or library failure on standard error as ReportError
// does; in JSON mode it is the result's message too.
void ReportFailure(const char* format, ...) __attribute__((format(printf, 1, 2)));

// The details of a result line, as far as the run got. Each text is a copy
// (its first 4 KiB; the exchange's bytes whole), kept until the process
// ends.
struct RunDetails {
  std::string_view message;
  bool errorAsked = false;                // the library was asked for its reason
  std::optional<std::string_view> error;  // the library's reason of a failure
  std::optional<std::string_view> file;   // the file the command names
  std::optional<unsigned> updateError;    // the status a firmware update set
  bool exchanged = false;                 // --execute sent its request
  std::span<const std::uint8_t> request;
  std::optional<std::span<const std::uint8_t>> response;  // nullopt: no answer in time
};
const RunDetails& Details();

void NoteLibraryError(const char* text);  // null or "": none
void NoteFile(const char* path);
void NoteUpdateError(unsigned status);
// The bytes --execute sent, and those it received; copies, kept in JSON
// mode only.
void NoteRequest(std::span<const std::uint8_t> request);
void NoteResponse(std::span<const std::uint8_t> response);
