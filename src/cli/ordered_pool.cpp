// Reader threads that work ahead of the writer on a ring of slots, which the writer takes back
// in the order it filled them.
//
// A reader claims the next slot submitted by one atomic step and marks it done by another; locks
// are taken only to sleep and to wake a sleeper. Each sleeper announces itself (sleepers_,
// waiting_for_) before it looks once more for what it waits for, and each waker changes what it
// waits for before it looks for sleepers: with sequentially consistent operations one of the two
// sees the other, so no wake-up is lost.
#include <cassert>

#include "cli/cli.h"

OrderedPool::OrderedPool(unsigned threads, size_t window, std::function<void(size_t)> work)
    : window_(window), work_(std::move(work)), done_(new std::atomic<bool>[window]) {
  assert(threads > 0 && window > 0);
  for (size_t i = 0; i < window; ++i) done_[i].store(false, std::memory_order_relaxed);
  workers_.reserve(threads - 1);
  for (unsigned i = 1; i < threads; ++i) workers_.emplace_back([this] { serve(); });
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
  if (count == 0) return;
  submitted_.fetch_add(count);
  if (sleepers_.load() > 0) {
    std::lock_guard<std::mutex> lock(mutex_);
    work_ready_.notify_all();
  }
}

bool OrderedPool::claim(size_t& index) {
  size_t claimed = claimed_.load();
  while (claimed < submitted_.load()) {
    if (claimed_.compare_exchange_weak(claimed, claimed + 1)) {
      index = claimed;
      return true;
    }
  }
  return false;
}

void OrderedPool::run(size_t index) {
  const size_t slot = index % window_;
  work_(slot);
  done_[slot].store(true);
  if (waiting_for_.load() == index + 1) {
    std::lock_guard<std::mutex> lock(mutex_);
    head_ready_.notify_one();
  }
}

size_t OrderedPool::wait_head() {
  assert(in_flight() > 0);
  const size_t slot = taken_ % window_;
  for (size_t index; !done_[slot].load();) {
    if (claim(index)) {
      run(index);
      continue;
    }
    // Another thread reads the head: sleep until it is done.
    std::unique_lock<std::mutex> lock(mutex_);
    waiting_for_.store(taken_ + 1);
    head_ready_.wait(lock, [&] { return done_[slot].load(); });
    waiting_for_.store(0);
  }
  return slot;
}

void OrderedPool::pop() {
  done_[taken_ % window_].store(false, std::memory_order_relaxed);
  ++taken_;
}

void OrderedPool::rest_workers(bool rest) {
  if (resting_.load(std::memory_order_relaxed) == rest) return;
  resting_.store(rest);
  if (!rest && sleepers_.load() > 0) {
    std::lock_guard<std::mutex> lock(mutex_);
    work_ready_.notify_all();
  }
}

void OrderedPool::serve() {
  for (size_t index;;) {
    if (!resting_.load() && claim(index)) {
      run(index);
      continue;
    }
    std::unique_lock<std::mutex> lock(mutex_);
    sleepers_.fetch_add(1);
    work_ready_.wait(lock, [this] {
      return stopping_ || (!resting_.load() && claimed_.load() < submitted_.load());
    });
    sleepers_.fetch_sub(1);
    if (stopping_ && claimed_.load() >= submitted_.load()) return;
  }
}
