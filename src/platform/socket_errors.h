#pragma once

namespace rovalink::platform::socket_error {

// Error numbers as the classic socket control reports them (Winsock codes), so a logged
// "(10061)" means the same on every platform. Descriptions come from the platform.
inline constexpr int kUnknown = -1;
inline constexpr int kAccessDenied = 10013;
inline constexpr int kMessageTooBig = 10040;
inline constexpr int kUnsupported = 10045;
inline constexpr int kAddressInUse = 10048;
inline constexpr int kAddressNotAvailable = 10049;
inline constexpr int kNetworkDown = 10050;
inline constexpr int kConnectionAborted = 10053;
inline constexpr int kConnectionReset = 10054;
inline constexpr int kNoBufferSpace = 10055;
inline constexpr int kNotConnected = 10057;
inline constexpr int kTimedOut = 10060;
inline constexpr int kConnectionRefused = 10061;
inline constexpr int kHostUnreachable = 10065;
inline constexpr int kHostNotFound = 11001;
inline constexpr int kInvalidOperation = 40020;

}  // namespace rovalink::platform::socket_error
