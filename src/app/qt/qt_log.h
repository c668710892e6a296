// The core's diagnostics on Qt's logging categories tessaly.chain, tessaly.whois,
// tessaly.http, tessaly.trace and tessaly.update: silent by default, on standard error with
// QT_LOGGING_RULES="tessaly.*.debug=true".
#pragma once

namespace tessaly {

// Installs the sink for the rest of the program's run; call before any thread starts.
void installQtLogSink();

}  // namespace tessaly
