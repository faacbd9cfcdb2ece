#include "package/close_pool.h"

#include <thread>

ClosePool& ClosePool::Shared() {
  static ClosePool* pool = new ClosePool;  // never destroyed: its threads may outlive main
  return *pool;
}

void ClosePool::Close(std::FILE* file) {
  std::unique_lock<std::mutex> lock(mutex_);
  if (started_ < kThreads) {
    ++started_;
    std::thread([this] { Work(); }).detach();
  }
  changed_.wait(lock, [this] { return waiting_.size() < kMaxWaiting; });
  waiting_.push_back(file);
  changed_.notify_all();
}

bool ClosePool::Drain() {
  std::unique_lock<std::mutex> lock(mutex_);
  changed_.wait(lock, [this] { return waiting_.empty() && closing_ == 0; });
  const bool ok = !failed_;
  failed_ = false;
  return ok;
}

void ClosePool::Work() {
  std::unique_lock<std::mutex> lock(mutex_);
  for (;;) {
    changed_.wait(lock, [this] { return !waiting_.empty(); });
    std::FILE* file = waiting_.front();
    waiting_.pop_front();
    ++closing_;
    changed_.notify_all();
    lock.unlock();
    const bool closed = std::fclose(file) == 0;
    lock.lock();
    --closing_;
    if (!closed) failed_ = true;
    changed_.notify_all();
  }
}
