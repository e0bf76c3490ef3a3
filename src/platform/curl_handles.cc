#include "platform/curl_handles.h"

#include <stdexcept>

namespace marigold {

void ensureCurlInitialized() {
  static const CURLcode kResult = curl_global_init(CURL_GLOBAL_DEFAULT);
  if (kResult != CURLE_OK) {
    throw std::runtime_error(std::string("libcurl could not start: ") +
                             curl_easy_strerror(kResult));
  }
}

CurlEasy makeCurlEasy() {
  ensureCurlInitialized();
  CurlEasy handle(curl_easy_init());
  if (!handle)
    throw std::runtime_error("libcurl could not make a transfer handle (out of memory?)");
  return handle;
}

CurlMulti makeCurlMulti() {
  ensureCurlInitialized();
  CurlMulti handle(curl_multi_init());
  if (!handle) throw std::runtime_error("libcurl could not make a multi handle (out of memory?)");
  return handle;
}

}  // namespace marigold
