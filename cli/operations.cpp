#include "cli/operations.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <limits>
#include <memory>
#include <string_view>

#include "cli/text.h"
#include "devlib/buffers.h"
#include "devlib/wrappers.h"
#include "frame/slave_options.h"
#include "process/interrupts.h"
#include "settings/settings.h"

namespace {

constexpr std::uint64_t kMaxPictureBytes = std::numeric_limits<std::int32_t>::max();

}  // namespace

Outcome HandleGetPicture(void* device, int /*argc*/, char** /*argv*/) {
  unsigned width = 0;
  unsigned height = 0;
  // The byte count must fit the int the library takes, and so must each side.
  if (!GetPicSize(device, &width, &height) || std::uint64_t{width} * height > kMaxPictureBytes ||
      width > kMaxPictureBytes || height > kMaxPictureBytes) {
    SayOutcome("Failed to get image resolution");
    return Outcome::kFailed;
  }
  if (Interruption() != 0) return Outcome::kFailed;
  const auto size = static_cast<int>(std::uint64_t{width} * height);
  // One byte at least, so that a 0 x 0 picture still has a buffer to pass.
  const CallocBuffer<unsigned char> buffer(
      static_cast<unsigned char*>(std::calloc(size > 0 ? size : 1, 1)));
  if (!buffer || !GetPicData(device, buffer.get(), size)) {
    SayOutcome("Failed to get image data");
    return Outcome::kFailed;
  }
  if (Interruption() != 0) return Outcome::kFailed;
  char fileName[128] = "test.bmp";
  // A picture that was not saved must not pass for one that was.
  if (!SavePicDataToFile(fileName, buffer.get(), static_cast<int>(width), static_cast<int>(height),
                         8)) {
    SayOutcomeFormat("Failed to save image file %s", fileName);
    return Outcome::kFailed;
  }
  return Outcome::kDone;
}

Outcome HandleFirmware(void* device, int argc, char** argv) {
  if (argc <= 2) {
    SayOutcome("No firmware file");
    return Outcome::kRefused;
  }
  NoteFile(argv[2]);
  unsigned status = std::numeric_limits<unsigned>::max();
  const bool ok = UpdateKernelDevice(device, argv[2], 0, &status);
  NoteUpdateError(status);
  SayOutcomeFormat("updateError=%d,%s", static_cast<int>(status),
                   ok ? "succeed in updating the firmware " : "failed to update the firmware");
  return ok ? Outcome::kDone : Outcome::kFailed;
}

Outcome HandleExport(void* device, int argc, char** argv) {
  if (argc <= 2) {
    SayOutcome("No export xml file");
    return Outcome::kRefused;
  }
  NoteFile(argv[2]);
  const bool ok = ReadDevCfgToXml(device, argv[2]);
  SayOutcome(ok ? "Export xml file succeeful" : "Export xml file failed");
  return ok ? Outcome::kDone : Outcome::kFailed;
}

Outcome HandleImport(void* device, int argc, char** argv) {
  if (argc <= 2) {
    SayOutcome("No execute command");
    return Outcome::kRefused;
  }
  bool ok = false;
  if (std::string_view(argv[2]) == "--custom") {
    const std::optional<SlaveOptions> options = ParseSlaveOptions(argc, argv);
    if (!options) return Outcome::kRefused;
    NoteFile(options->payload);
    const std::int32_t timeout = getReadTimeout();
    ok = WriteCfgToSlaveDev(device, options->prefix, options->suffix, options->lengthType,
                            options->payload, timeout);
  } else {
    NoteFile(argv[2]);
    const std::int32_t timeout = getReadTimeout();
    ok = WriteCfgToDev(device, argv[2], timeout);
  }
  if (ok) {
    SayOutcome("Write configure to device successful.");
    return Outcome::kDone;
  }
  // The library's reason is the outcome's text, without a line end.
  const char* reason = GetLastError();
  NoteLibraryError(reason);
  if (reason != nullptr) SayDeviceText(reason);
  return Outcome::kFailed;
}
