// Parameter lists shared by the two controls' tables.
#pragma once

namespace velk::typelib {

inline constexpr const char* kOpenParams = "LocalPort=0,LocalAddress=\"\"";
inline constexpr const char* kTraceParams =
    "Result?,Send=0,Receive=0,SendPrompt=\"\",ReceivePrompt=\"\"";
inline constexpr const char* kTraceHelp =
    "Store communication data for monitoring or debugging purposes.";
inline constexpr const char* kErrorEventHelp = "Fires when an error occurs.";

}  // namespace velk::typelib
