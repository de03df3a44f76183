#include "devlib/loader.h"

void* g_handle = nullptr;

void ReportLoaderError(const char* text) {
  FlushOutput();
  std::fprintf(stderr, "%s\n", text);
}

bool Opendl() {
  g_handle = dlopen("./Tolvarine.so", RTLD_NOW);
  if (g_handle == nullptr) {
    const char* error = dlerror();
    ReportLoaderError(error != nullptr ? error : "./Tolvarine.so: cannot load");
    return false;
  }
  return true;
}

void Closedl() {
  if (g_handle != nullptr) {
    FlushOutput();  // a library that crashes in its teardown takes nothing with it
    dlclose(g_handle);
    g_handle = nullptr;
  }
}
