// The start-up check of the tool's version against the maker's version endpoint.
#pragma once

#include <memory>

#include "lookup/endpoints.h"
#include "lookup/ports.h"

namespace tessaly {

// The tool's own version for the comparison (tessalyVersion once the window exists). The
// only global variable; set before the update worker starts, released by the exit routine.
extern Text appVersion;
void releaseAppVersion();

// Fetches the version endpoint and shows the "版本有更新" box when it is newer.
void checkForUpdate(const Endpoints& endpoints, MessageBoxes& boxes);

// The window's start-up action: sets appVersion to tessalyVersion and starts a detached
// worker on checkForUpdate, which shares the ownership of boxes.
void startUpdateCheck(const Endpoints& endpoints, std::shared_ptr<MessageBoxes> boxes);

}  // namespace tessaly
