// Where the window program keeps its support log, and the Windows calls the
// log makes besides appending (app/support_log.h).
#pragma once

#include <string>

#include "app/support_log.h"

// The folder "Lumaris Update" in the user's local application data
// (FOLDERID_LocalAppData), in UTF-8; empty when Windows cannot name it.
// Nothing is made here: the log makes the folder when a run begins.
std::string SupportLogFolderOfUser();

extern const SupportLogFileSystem WIN32_SUPPORT_LOG_FILE_SYSTEM;
