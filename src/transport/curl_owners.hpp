// Owning pointers for what libcurl hands out.
#pragma once

#include <curl/curl.h>

#include <memory>

struct EasyCleanup {
    void operator()(CURL* handle) const noexcept { curl_easy_cleanup(handle); }
};
using EasyHandle = std::unique_ptr<CURL, EasyCleanup>;

struct MultiCleanup {
    void operator()(CURLM* handle) const noexcept { curl_multi_cleanup(handle); }
};
using MultiHandle = std::unique_ptr<CURLM, MultiCleanup>;

struct ShareCleanup {
    void operator()(CURLSH* handle) const noexcept { curl_share_cleanup(handle); }
};
using ShareHandle = std::unique_ptr<CURLSH, ShareCleanup>;

struct SlistFree {
    void operator()(curl_slist* list) const noexcept { curl_slist_free_all(list); }
};
using HeaderList = std::unique_ptr<curl_slist, SlistFree>;

struct CurlFree {
    void operator()(char* text) const noexcept { curl_free(text); }
};
using CurlText = std::unique_ptr<char, CurlFree>;
