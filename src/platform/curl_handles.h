// Owning handles for libcurl's easy, multi and string-list objects, and the one-time global setup
// that libcurl needs before any of them is made.
#pragma once

#include <curl/curl.h>

#include <memory>

namespace marigold {

struct CurlEasyFree {
  void operator()(CURL* handle) const { curl_easy_cleanup(handle); }
};
struct CurlMultiFree {
  void operator()(CURLM* handle) const { curl_multi_cleanup(handle); }
};
struct CurlSlistFree {
  void operator()(curl_slist* list) const { curl_slist_free_all(list); }
};

using CurlEasy = std::unique_ptr<CURL, CurlEasyFree>;
using CurlMulti = std::unique_ptr<CURLM, CurlMultiFree>;
using CurlSlist = std::unique_ptr<curl_slist, CurlSlistFree>;

// Runs curl_global_init once per process (thread-safe); call before making a handle.
void ensureCurlInitialized();

// A new easy or multi handle; throws std::runtime_error when libcurl cannot make one.
CurlEasy makeCurlEasy();
CurlMulti makeCurlMulti();

}  // namespace marigold
