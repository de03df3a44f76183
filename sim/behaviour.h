// What a simulated device does with what it is given.
#pragma once

#include <cstdint>
#include <span>
#include <string>

#include "sim/scenario.h"

namespace sim {

// Takes the bytes of one Write as the device would: queues its answer, or
// returns a reason why the frame is not understood (nothing is queued then).
std::string Receive(Device& device, std::span<const std::uint8_t> bytes);

// The command inside a unified frame, or nullopt with a reason.
std::optional<std::string> ParseUnifiedFrame(std::span<const std::uint8_t> frame,
                                             std::string* reason);

// The test pattern of a picture: a horizontal gradient crossed by a grid.
std::uint8_t PicturePixel(unsigned x, unsigned y);

// Writes an 8-bit grayscale BMP of `pixels` (rows top to bottom). Returns an
// empty string, or the reason it could not be written.
std::string WriteBmp(const char* path, const std::uint8_t* pixels, unsigned width, unsigned height);

// Checks that the text is a well-formed XML document; returns "" or why not.
std::string CheckXml(const std::string& text);

// Why the device refuses the configuration file at `path`, or "" when it
// takes it: it must exist, hold something and be well-formed XML.
std::string RefuseConfiguration(const Device& device, const char* path);

// The configuration document of a device.
std::string ConfigurationXml(const Device& device);

}  // namespace sim
