// Runs one transfer on a multi handle, waking every so often to ask whether
// the caller wants it ended, which curl_easy_perform cannot (its progress
// callback may come only once a second while a server is silent).
#pragma once

#include <curl/curl.h>

#include <functional>

// Asked between waits; true ends the transfer at once.
using InterruptCheck = std::function<bool()>;

struct TransferOutcome {
    CURLcode code = CURLE_OK;
    bool interrupted = false;  // `interrupted` said so; code is then CURLE_ABORTED_BY_CALLBACK
};

// How often the check is made while a request waits, at most.
inline constexpr int kInterruptCheckMilliseconds = 250;

// Adds `easy` to `multi`, runs the transfer to its end (libcurl's own time-out
// bounds it) and removes it again, so the multi handle keeps its connection.
TransferOutcome run_transfer(CURLM* multi, CURL* easy, const InterruptCheck& interrupted);
