#pragma once

#include <curl/curl.h>

// This thread's libcurl easy handle, reset to libcurl's defaults, or null when
// none can be made. Keeping it between calls keeps its connections, TLS
// sessions, DNS cache and loaded CA store for the next request.
CURL* fresh_thread_easy_handle();
