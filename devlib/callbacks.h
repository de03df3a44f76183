// Ready callbacks for the library's callback interfaces. The run flow
// registers none of them; they serve a caller that does.
#pragma once

#include <span>

// For CreateTcpService: prints "clientIp=<address>" and then serves the
// connection for ever, printing what each successful read brings.
void TcpServiceBack(int connection, const char* clientAddress);

// For SetListener: ignores what it is given.
void ReadCallback(void* handle, const char* text, int length);

// For SetCbDevStatusChanged: prints whether the device came or went.
void DevStatChangeCallback(void* device, bool arrived);

using SocketReader = int (*)(int socket, int timeout, char* buffer, int* length);

// One attempt of TcpServiceBack's loop: reads into `buffer` and, when the
// read returns 0, prints at most buffer.size() bytes of it and zeroes it.
void ServeTcpOnce(int connection, std::span<char> buffer, int* length, SocketReader read);
