#pragma once
// A plain database attachment, made only to prove a database usable and then drop it (the
// scratch database a verification restores into).
#include <string>

namespace qv {

// The database parameter block for a login: 01, then 1C len user, 1D len password. A value
// longer than 255 bytes raises ServiceParamTooLong.
std::string DatabaseParamBlock(const std::string& user, const std::string& password);

// Attaches to the database that `connect` names ("host:path", see
// TIBCustomService::ConnectStringFor) and drops it; each call is bounded by timeout_ms as the
// service calls are (0: unbounded, on the calling thread). Raises the attach's failure (the
// database is not usable) or the drop's (the attachment is then closed all the same).
void AttachAndDropDatabase(const std::string& connect, const std::string& dpb, int timeout_ms);

}  // namespace qv
