// HTTP GET over libcurl's easy interface: archive downloads with resume, documents into memory.
#pragma once

#include <string>

#include "net/download_task.h"
#include "net/transfer_callback.h"

// Everything one document request needs; the request thread owns it.
struct RequestTask {
  std::string url;
  std::string body;  // only logged
  TransferCallback callback;
  long timeoutMs = 0;  // bounds the connection and the whole request
};

class HttpUtil {
 public:
  // Synchronous: "trans" while the length is known ("restart" when the file is written from its
  // start again), then exactly one "succ" or "fail".
  static void Download(const DownloadTask& task);
  // Synchronous, at most `timeoutMs` for connection and answer together: "trans" while the
  // length is known, then "succ" (200), "timeout" (408) or "error".
  static void Request(const std::string& url, const std::string& body, const TransferCallback& callback,
                      long timeoutMs);
};
