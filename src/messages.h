// Every text the program writes of its own, and its exit statuses.
#pragma once

#include <string_view>

namespace tovrin {

// Each text carries its own CR LF; the text stream then writes the LF as
// CR LF, so a redirected stream sees CR CR LF. Scripts rely on those bytes.
inline constexpr std::string_view kUsage = "Usage: tovrin infile [outfile]\r\n";
inline constexpr std::string_view kOpenRead = "Error opening file for read\r\n";
inline constexpr std::string_view kOpenWrite = "Error opening file for write.\r\n";
inline constexpr std::string_view kReadError = "Error reading file\r\n";
inline constexpr std::string_view kWriteError = "Error writing file.\r\n";

inline constexpr int kStatusOk = 0;
inline constexpr int kStatusFailed = -1;  // 255 where the host keeps 8 bits

}  // namespace tovrin
