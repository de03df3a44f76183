/* A library that must never run: swap_test.sh puts it in place of
   ./Tolvarine.so again and again. Loading it runs its constructor, which
   appends a line to the file named by TOLVARINE_PLANTED_MARK and ends the
   process with status 66, before the tool can do anything with it. */
#include <fcntl.h>
#include <stdlib.h>
#include <unistd.h>

__attribute__((constructor)) static void Planted(void) {
  static const char kLine[] = "the planted library was loaded\n";
  const char* mark = getenv("TOLVARINE_PLANTED_MARK");
  const int fd = mark != NULL ? open(mark, O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644) : -1;
  /* Status 67 when the line could not be written: the run shows it all the same. */
  const int written = fd >= 0 && write(fd, kLine, sizeof kLine - 1) == (ssize_t)(sizeof kLine - 1);
  _exit(written ? 66 : 67);
}
