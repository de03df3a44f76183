#include "process/streams.h"

#include <fcntl.h>
#include <poll.h>
#include <stdio_ext.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdarg>
#include <cstring>

namespace {

int g_outputError = 0;  // errno of the first failed write to standard output

}  // namespace

void PrepareStandardStreams() {
  // One look at all three: poll marks a closed descriptor POLLNVAL.
  pollfd standard[3] = {{0, 0, 0}, {1, 0, 0}, {2, 0, 0}};
  if (poll(standard, 3, 0) > 0) {
    // In order: open() takes the lowest free descriptor, the closed one.
    for (int fd = 0; fd <= 2; ++fd) {
      if ((standard[fd].revents & POLLNVAL) == 0) continue;
      const int null = open("/dev/null", fd == 0 ? O_RDONLY : O_WRONLY);
      if (null > fd) {
        dup2(null, fd);
        close(null);
      }
    }
  }
  // Fully buffered, in a buffer of its own, wherever it goes: the tool
  // hands its output to the system itself before every library call, every
  // line on standard error and the prompt (FlushOutput), so a terminal
  // sees everything in time, and no look at the descriptor is needed.
  static char buffer[BUFSIZ];
  std::setvbuf(stdout, buffer, _IOFBF, sizeof buffer);
  std::signal(SIGPIPE, SIG_IGN);
}

void ReportError(const char* format, ...) {
  FlushOutput();
  va_list arguments;
  va_start(arguments, format);
  std::vfprintf(stderr, format, arguments);
  va_end(arguments);
  std::fputc('\n', stderr);
}

void FlushOutput() {
  if (__fpending(stdout) == 0) return;
  if (std::fflush(stdout) != 0) NoteOutputFailure(stdout, errno);
}

void NoteOutputFailure(std::FILE* stream, int error) {
  if (stream == stdout && g_outputError == 0) g_outputError = error;
}

bool FinishOutput() {
  FlushOutput();
  if (std::ferror(stdout) == 0) return true;
  // A failure inside a line-buffered write (a terminal) leaves no errno to
  // keep; a terminal that fails has hung up, an input/output error.
  const int error = g_outputError != 0 ? g_outputError : EIO;
  if (error == EPIPE) return true;
  ReportError("TolvarineCli: cannot write output: %s", std::strerror(error));
  return false;
}
