/* The floor of "--execute" for an answer of SIZE bytes in pieces of PIECE:
 * what no tool can go below. Between two pieces the mandated 50 us pause,
 * spun exactly on the monotonic clock; each piece's hex text produced at
 * cache speed (copied from the text of one 256-byte period of the answer's
 * pattern) into one reused block and written to standard output. No device
 * library: its time is left out.
 *   floor_execute SIZE PIECE */
#define _GNU_SOURCE
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <time.h>
#include <unistd.h>

static long long Now(void) {
  struct timespec now;
  clock_gettime(CLOCK_MONOTONIC, &now);
  return now.tv_sec * 1000000000LL + now.tv_nsec;
}

static void WriteAll(const char* text, size_t size) {
  while (size > 0) {
    ssize_t written = write(1, text, size);
    if (written <= 0) exit(1);
    text += written;
    size -= (size_t)written;
  }
}

int main(int argc, char** argv) {
  if (argc != 3) {
    fprintf(stderr, "usage: floor_execute SIZE PIECE\n");
    return 2;
  }
  const size_t size = strtoul(argv[1], NULL, 10);
  const size_t piece = strtoul(argv[2], NULL, 10);
  if (piece == 0 || piece % 256 != 0) {
    fprintf(stderr, "PIECE must be a multiple of 256\n");
    return 2;
  }
  /* The answer's pattern (byte i is i * 7 + 1) as text, one period. */
  static const char digits[] = "0123456789ABCDEF";
  char period[256 * 3];
  for (int i = 0; i < 256; ++i) {
    unsigned char b = (unsigned char)(i * 7 + 1);
    period[i * 3] = digits[b >> 4];
    period[i * 3 + 1] = digits[b & 15];
    period[i * 3 + 2] = ' ';
  }
  char* block = malloc(piece * 3);
  if (block == NULL) return 1;
  static const char request[] = "Request:7E 01 30 30 30 30 40 42 55 4C 4B 3B 03 \nResponse:";
  WriteAll(request, sizeof request - 1);
  for (size_t at = 0; at < size; at += piece) {
    if (at > 0) {
      const long long end = Now() + 50000;
      while (Now() < end) {
      }
    }
    const size_t count = size - at < piece ? size - at : piece;
    for (size_t i = 0; i < count; i += 256) memcpy(block + i * 3, period, sizeof period);
    WriteAll(block, count * 3);
  }
  WriteAll("\n", 1);
  free(block);
  return 0;
}
