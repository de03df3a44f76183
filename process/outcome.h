// What a run achieved, as its exit status reports it on request.
#pragma once

// Each step that prints an outcome returns it too; the run flow hands the
// outcome of the run to main. The values are the exit codes.
enum class Outcome {
  kDone = 0,       // the command did what was asked
  kFailed = 1,     // the device or the library reported a failure
  kRefused = 2,    // the command line was refused; nothing was sent
  kNoDevice = 3,   // there was no device to act on
  kNoLibrary = 4,  // the device library could not be used
};

// The exit status of a run that ended by itself: the outcome's code when
// the environment holds TOLVARINE_EXIT_STATUS=1 exactly, otherwise 0, so
// that scripts written for status 0 see no change.
int ExitStatus(Outcome outcome);
