// The "--custom" options of "--execute" and "--import":
//   <cmd> --custom <word> <value> [<word> <value> [<word> <value>]] <payload>
// with the words "--prefix", "--len" and "--surfix".
#pragma once

#include <optional>

// Option values point into the argument vector; an option not given is "".
struct SlaveOptions {
  const char* prefix = "";
  const char* lengthType = "";
  const char* suffix = "";
  const char* payload = "";
};

// Parses arguments 3 and beyond (argument 2 being "--custom"). Returns the
// options, or nullopt after printing the one-line reason on standard output.
std::optional<SlaveOptions> ParseSlaveOptions(int argc, char** argv);
