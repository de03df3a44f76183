/* Plain-C baseline: loads the device library and prints the usage text. */
#include <dlfcn.h>
#include <stdio.h>

static const char* const kLines[25] = {
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
    "PID, "
    "Commands {'--custom', '--Gpic'} Not Supported.",
};

int main(void) {
  void* library = dlopen("./Tolvarine.so", RTLD_NOW);
  if (library == NULL) {
    fprintf(stderr, "%s\n", dlerror());
    return 0;
  }
  for (int i = 0; i < 25; ++i) printf("%s\r\n", kLines[i]);
  dlclose(library);
  return 0;
}
