#pragma once

#include <memory>

#include <curl/curl.h>

namespace velk::core::infra::http {

// Owning pointers for libcurl's handles, so every exit path frees them.
struct CurlEasyDeleter {
    void operator()(CURL* handle) const { curl_easy_cleanup(handle); }
};
using CurlEasyPtr = std::unique_ptr<CURL, CurlEasyDeleter>;

struct CurlSlistDeleter {
    void operator()(curl_slist* list) const { curl_slist_free_all(list); }
};
using CurlSlistPtr = std::unique_ptr<curl_slist, CurlSlistDeleter>;

// Appends one line; returns false when libcurl could not allocate it (the
// list then stays as it was).
inline bool appendLine(CurlSlistPtr& list, const char* line) {
    curl_slist* grown = curl_slist_append(list.get(), line);
    if (grown == nullptr) {
        return false;
    }
    list.release();
    list.reset(grown);
    return true;
}

// Memory libcurl allocated and hands to us (curl_easy_escape).
struct CurlFreeDeleter {
    void operator()(char* text) const { curl_free(text); }
};
using CurlStringPtr = std::unique_ptr<char, CurlFreeDeleter>;

}  // namespace velk::core::infra::http
