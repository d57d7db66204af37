#pragma once

#include <string>

namespace velmar {

inline constexpr const char* kCannotAllocateSocket = "Cannot allocate socket.";
inline constexpr const char* kCouldNotBindSocket =
    "Could not bind socket. Address and port are already in use.";
inline constexpr const char* kPackageSizeTooBig = "Package Size Too Big.";
inline constexpr const char* kNotAllBytesSent = "Not all bytes sent.";
inline constexpr int kWsaEMsgSize = 10040;
inline constexpr int kWsaEAddrInUse = 10048;
inline constexpr int kWsaHostNotFound = 11001;

// The text for a Winsock error code; empty for a code without one.
std::string SocketErrorText(int code);
// The Winsock code that stands for an errno value.
int WinsockCode(int err);
// "Socket Error # %d\r\n%s".
std::string SocketErrorMessage(int code);
[[noreturn]] void RaiseSocketError(int code);
// Raises the socket error for the errno value.
[[noreturn]] void RaiseLastSocketError(int err);

}  // namespace velmar
