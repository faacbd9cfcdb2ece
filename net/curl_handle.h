// Owners of libcurl's handles: the easy handle and the request header list.
#pragma once

#include <curl/curl.h>

#include <memory>

struct CurlEasyCleanup {
  void operator()(CURL* handle) const { curl_easy_cleanup(handle); }
};
struct CurlHeaderListFree {
  void operator()(curl_slist* list) const { curl_slist_free_all(list); }
};

using CurlEasy = std::unique_ptr<CURL, CurlEasyCleanup>;
using CurlHeaderList = std::unique_ptr<curl_slist, CurlHeaderListFree>;

// A new easy handle, or an empty owner when libcurl cannot create one. libcurl's global state
// is set up once before the first handle, so that concurrent first transfers cannot race on it.
CurlEasy MakeCurlEasy();
