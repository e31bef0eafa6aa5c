// Names of the objects server and console meet through; used exactly as written.
#pragma once

namespace corvel::names {

inline constexpr char kPlainServerMutex[] = "CORVELFTP_BASICSVR_MUTEX";
inline constexpr char kStopEvent[] = "CORVELFTP_BASICSVRSTOP_EVENT";
inline constexpr char kExistenceEvent[] = "CORVELFTP_BASICSVREXIST_EVENT";
inline constexpr char kControlBlock[] = "CORVELFTP_PIPE";
inline constexpr char kControlMutex[] = "CORVELFTP_PIPEMutex";
inline constexpr char kStatusBlock[] = "CORVELFTP_STATUS";
inline constexpr char kStatusMutex[] = "CORVELFTP_STATUSMutex";
inline constexpr char kUsersFileMutex[] = "LUMOXMLUSERTABLE";
// Taken by every program that reads or rewrites ftpshares.xml.
inline constexpr char kSharesFileMutex[] = "CORVELFTP_SHARESMutex";
inline constexpr char kConsoleMutex[] = "CORVELFTP_CONSOLE_MUTEX";
inline constexpr char kPopEvent[] = "CORVELFTP_POP_EVENT";
// Made by the server at the first `corvelctl sessions` or `kick` of its run.
inline constexpr char kSessionsBlock[] = "CORVELFTP_SESSIONS";
inline constexpr char kSessionsMutex[] = "CORVELFTP_SESSIONSMutex";

}  // namespace corvel::names
