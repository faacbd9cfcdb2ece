#include "net/background_tasks.h"

#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <stdexcept>
#include <thread>
#include <utility>

namespace {

// The starter blocks here until the worker has taken the job over, never longer.
struct HandOver {
  std::mutex mutex;
  std::condition_variable signal;
  bool started = false;
};

}  // namespace

void RunDetached(std::function<void()> job) {
  auto record = std::make_unique<std::function<void()>>(std::move(job));
  HandOver handOver;
  std::unique_lock<std::mutex> lock(handOver.mutex);
  std::thread worker([&handOver, owned = record.get()] {
    std::unique_ptr<std::function<void()>> task(owned);
    {
      std::lock_guard<std::mutex> guard(handOver.mutex);
      handOver.started = true;
      handOver.signal.notify_one();
    }
    (*task)();
  });
  record.release();  // the thread owns it from here on
  handOver.signal.wait(lock, [&handOver] { return handOver.started; });
  lock.unlock();
  worker.detach();
}

void RunAfterDelay(int delayMs, std::function<void()> job) {
  if (!job) throw std::invalid_argument("RunAfterDelay needs a job");
  RunDetached([delayMs, job = std::move(job)] {
    std::this_thread::sleep_for(std::chrono::milliseconds(delayMs));
    job();
  });
}
