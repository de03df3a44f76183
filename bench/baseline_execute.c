/* Plain-C baseline of "--execute CMD": the same library calls, the answer
 * gathered in the same pieces, the trace printed with printf per byte. */
#include <dlfcn.h>
#include <stdbool.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

typedef void* (*EnumFn)(unsigned*, int);
typedef void* (*OpenFn)(void*, unsigned, int);
typedef bool (*WriteFn)(void*, const unsigned char*, unsigned, bool);
typedef int (*ReadFn)(void*, char*, unsigned, unsigned);
typedef int (*CloseFn)(void**);
typedef void (*ReleaseFn)(void**);

enum { kSize = 0xA00000 };

int main(int argc, char** argv) {
  const char* command = argc > 1 ? argv[1] : "BULK";
  void* library = dlopen("./Tolvarine.so", RTLD_NOW);
  if (library == NULL) return 0;
  unsigned count = 0;
  void* list = ((EnumFn)dlsym(library, "tq_EnumDevices"))(&count, 7);
  void* device = ((OpenFn)dlsym(library, "tq_OpenDevice"))(list, 0, 0);
  unsigned char* request = calloc(kSize, 1);
  char* response = calloc(kSize, 1);
  size_t length = strlen(command);
  memcpy(request,
         "\x7E\x01"
         "0000@",
         7);
  memcpy(request + 7, command, length);
  memcpy(request + 7 + length, ";\x03", 2);
  length += 9;
  printf("Request:");
  for (size_t i = 0; i < length; ++i) printf("%02X ", request[i]);
  printf("\n");
  ((WriteFn)dlsym(library, "tq_Write"))(device, request, (unsigned)length, false);
  ReadFn readFn = (ReadFn)dlsym(library, "tq_Read");
  int n = readFn(device, response, kSize, 2000);
  if (n < 1) {
    printf("Response: time out\n");
  } else {
    size_t total = 0;
    while (n > 0 && total + (size_t)n < kSize) {
      total += (size_t)n;
      usleep(50);
      n = readFn(device, response + total, (unsigned)(kSize - total), 200);
    }
    if (n > 0) total = kSize;
    printf("Response:");
    for (size_t i = 0; i < total; ++i) printf("%02X ", (unsigned char)response[i]);
    printf("\n");
  }
  free(request);
  free(response);
  ((CloseFn)dlsym(library, "tq_CloseDevice"))(&device);
  ((ReleaseFn)dlsym(library, "tq_ReleaseDevices"))(&list);
  dlclose(library);
  return 0;
}
