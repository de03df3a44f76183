// One process per device: an advisory lock per serial number, so that two
// runs given one serial never drive the same device at once.
#pragma once

#include <string_view>

constexpr int kDeviceBusy = -2;  // another process holds the lock
constexpr int kNoLock = -1;      // not taken for another reason (said on standard error)

// Takes the exclusive lock of `serial` without waiting: flock on a file in
// TOLVARINE_LOCK_DIR, or /run/lock, named after the serial so that any
// serial makes one valid file name, opened without following a link.
// Returns the lock's descriptor (the lock is held until UnlockDevice);
// kDeviceBusy when another process holds it; kNoLock when it cannot be
// taken for any other reason, which standard error says once: the run then
// goes on without it.
int LockDevice(std::string_view serial);

// Releases a lock LockDevice took; nothing for a negative value.
void UnlockDevice(int lock);
