// What the simulated devices share between the processes that load the
// library: a folder of small files, so that a production line of several
// tools at once can be rehearsed. The folder is TOLVARINE_SIM_STATE, or
// ${XDG_RUNTIME_DIR:-/tmp}/tolvarine-sim-UID, refused when it is a link or
// not the user's own; either is made 0700 when missing. In it, per device,
// NAME.lock is locked while a process holds the device open, and
// NAME.CALL.count counts the calls of a flaky call.
//
// A folder that cannot be used is said once, on standard error and in the
// journal; the devices then work unshared: no contention, and flaky calls
// counted in this process only. Nothing here fails a call for that reason.
#pragma once

#include <cstddef>
#include <string>

#include "sim/scenario.h"

namespace sim {

// The device's name in the state folder, a valid file name (no '/', NUL or
// leading '.', at most kMaxStateName bytes): its serial number as the info
// text gives it ("Serial Number: X" or "Serial Number=X;"), else
// "VID:PID@POSITION". Bytes other than letters, digits and "-_.:@+" are
// written as %HH; a longer name is cut and ends in a hash of the whole.
std::string StateName(const Device& device, std::size_t position);
constexpr std::size_t kMaxStateName = 100;

enum class Claim { kTaken, kBusy, kUnshared };

// Takes the lock of the device named `name` for this process, without
// waiting. kTaken: *fd holds it until it is closed (the kernel closes it when
// the process ends, however it ends). kBusy: another process holds it.
// kUnshared: the state folder cannot be used; *fd is left alone.
Claim LockDevice(const std::string& name, int* fd);

// Counts one call of a flaky call of the device named `name`. Returns the
// attempt (1 to flaky.times) when this call is one of the first
// flaky.times, which fail; 0 once they are spent.
unsigned FlakyAttempt(const std::string& name, FlakyCall& flaky);

}  // namespace sim
