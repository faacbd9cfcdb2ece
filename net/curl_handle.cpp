#include "net/curl_handle.h"

CurlEasy MakeCurlEasy() {
  // libcurl's implicit set-up at the first handle is not safe when two threads create their first
  // handles at once; a function-local static is initialised exactly once.
  static const CURLcode globalSetUp = curl_global_init(CURL_GLOBAL_DEFAULT);
  if (globalSetUp != CURLE_OK) return CurlEasy();
  return CurlEasy(curl_easy_init());
}
