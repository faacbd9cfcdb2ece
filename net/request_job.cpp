#include "net/request_job.h"

#include <utility>

#include "net/background_tasks.h"

void RunRequest(RequestTask task) {
  RunDetached([task = std::move(task)] { HttpUtil::Request(task.url, task.body, task.callback, task.timeoutMs); });
}
