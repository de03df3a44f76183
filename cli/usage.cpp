#include "cli/usage.h"

#include <cstdio>

namespace {

// As the user sees it; two examples continue on a second, indented line.
constexpr const char* kUsage[] = {
    "USAGE:",
    "    TolvarineCli  [--help |",
    "                   --execute [CMD] |",
    "                   --firmware xxx.bin|",
    "                   -i",
    "Options:",
    "    --Gpic       Getting images.",
    "    --execute   setup device by command",
    "    --firmware  Firmware upgrade command followed by firmware file path",
    "    --import     Download configuration file",
    "    --export     Save the device configuration.",
    "other:",
    "    --help      show help information",
    "    -i          show Device info",
    "Example:",
    "    TolvarineCli --help                           show help information.",
    "    TolvarineCli --execute RRDDUR2000             Set the readed timeout.",
    "    TolvarineCli --execute --custom --prefix 7b3e --len 2l --surfix 007d RRDDUR2000\n"
    "                 Set the readed timeout to slave device.",
    "    TolvarineCli --firmware xxx.bin               upgrade the firmware.",
    "    TolvarineCli --import xxx.xml                 Download configuration file.",
    "    TolvarineCli --import --custom --prefix 7b3e --len 2l --surfix 007d xxx.xml\n"
    "                 Download configuration file to slave device.",
    "    TolvarineCli -i                               show Device info.",
    "    TolvarineCli --Gpic                           Getting images.",
    "    TolvarineCli --export xxx.xml                 Save the device configuration.",
    "    TolvarineCli {option} -vp vid:pid             Operation on device with specific VID & "
    "PID, Commands {'--custom', '--Gpic'} Not Supported.",
};

}  // namespace

void ShowHelp() {
  for (const char* line : kUsage) {
    std::fputs(line, stdout);
    std::fputs("\r\n", stdout);
  }
}
