// Reader threads that work ahead of the writer on a ring of slots, which the writer takes back
// in the order it filled them.
#include <cassert>

#include "cli/cli.h"

OrderedPool::OrderedPool(unsigned threads, size_t window, std::function<void(size_t)> work)
    : work_(std::move(work)), done_(window, 0) {
  assert(threads > 0 && window > 0);
  workers_.reserve(threads);
  for (unsigned i = 0; i < threads; ++i) workers_.emplace_back([this] { serve(); });
}

OrderedPool::~OrderedPool() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    stopping_ = true;
  }
  work_ready_.notify_all();
  for (std::thread& worker : workers_) worker.join();
}

void OrderedPool::submit(size_t count) {
  assert(count <= free_slots());
  {
    std::lock_guard<std::mutex> lock(mutex_);
    submitted_ += count;
  }
  // One wake-up per batch: a worker that finds more work takes it without being woken.
  if (count == 1) {
    work_ready_.notify_one();
  } else if (count > 1) {
    work_ready_.notify_all();
  }
}

size_t OrderedPool::wait_head() {
  assert(taken_ < submitted_);
  const size_t slot = taken_ % done_.size();
  std::unique_lock<std::mutex> lock(mutex_);
  if (!done_[slot]) {
    head_waiting_ = true;
    head_ready_.wait(lock, [&] { return done_[slot] != 0; });
    head_waiting_ = false;
  }
  return slot;
}

void OrderedPool::pop() {
  std::lock_guard<std::mutex> lock(mutex_);
  done_[taken_ % done_.size()] = 0;
  ++taken_;
}

void OrderedPool::serve() {
  std::unique_lock<std::mutex> lock(mutex_);
  for (;;) {
    work_ready_.wait(lock, [this] { return stopping_ || claimed_ < submitted_; });
    if (claimed_ == submitted_) return;  // stopping, with nothing left to do
    const size_t index = claimed_++;
    const size_t slot = index % done_.size();
    lock.unlock();
    work_(slot);
    lock.lock();
    done_[slot] = 1;
    // Only the head's completion can wake the writer.
    if (head_waiting_ && index == taken_) head_ready_.notify_one();
  }
}
