#pragma once

#include <curl/curl.h>

#include "transport/ca_file.hpp"

// This thread's libcurl easy handle, reset to libcurl's defaults, or null when
// none can be made. Keeping it between calls keeps its connections, TLS
// sessions, DNS cache and loaded CA store for the next request; a handle that
// trusted another CA file than `ca_file` is replaced by a new one.
CURL* fresh_thread_easy_handle(const CaFileVersion& ca_file);
