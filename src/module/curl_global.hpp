// libcurl's process-wide set-up, shared by every interpreter that loads the module.
#pragma once

// Runs curl_global_init the first time any interpreter calls it, in a
// thread-safe way, and reports whether it succeeded. libcurl is never torn
// down: another interpreter of the process may still be using it.
bool curl_global_ready();
