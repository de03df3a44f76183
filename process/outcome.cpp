#include "process/outcome.h"

#include <cstdlib>
#include <string_view>

int ExitStatus(Outcome outcome) {
  const char* wanted = std::getenv("TOLVARINE_EXIT_STATUS");
  if (wanted == nullptr || std::string_view(wanted) != "1") return 0;
  return static_cast<int>(outcome);
}
