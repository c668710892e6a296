// The start-up check of the tool's version against the maker's version endpoint.
#pragma once

#include "app/endpoints.h"
#include "app/ports.h"

namespace tessaly {

// The tool's own version for the comparison ("1.10" once the window exists). The only
// global variable; set before the update worker starts, released by the exit routine.
extern Text appVersion;
void releaseAppVersion();

// Fetches the version endpoint and shows the "版本有更新" box when it is newer.
void checkForUpdate(const Endpoints& endpoints, MessageBoxes& boxes);

// The window's start-up action: sets appVersion to "1.10" and starts a detached worker
// on checkForUpdate. boxes must stay valid for as long as the program runs.
void startUpdateCheck(const Endpoints& endpoints, MessageBoxes& boxes);

}  // namespace tessaly
