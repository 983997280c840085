#pragma once
// The tool's lane runner: lane 0 of every chunk on a second thread, lane 1 on the
// calling one, so the whole-file digests and the range digests are computed side by
// side. Only the tool starts threads; the core below it never does.

#include <condition_variable>
#include <functional>
#include <mutex>
#include <thread>

#include "evidence/ImageScan.h"

namespace orvella::cli {

class ThreadLanes : public LaneRunner {
 public:
  ThreadLanes() : worker_([this] { Work(); }) {}
  ThreadLanes(const ThreadLanes&) = delete;
  ThreadLanes& operator=(const ThreadLanes&) = delete;
  ~ThreadLanes() override {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      quit_ = true;
    }
    wake_.notify_all();
    worker_.join();
  }

  void Run(const std::function<void()>& lane0, const std::function<void()>& lane1) override {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      job_ = &lane0;
      done_ = false;
    }
    wake_.notify_all();
    lane1();
    std::unique_lock<std::mutex> lock(mutex_);
    finished_.wait(lock, [this] { return done_; });
  }

  // Two lanes pay only where there are two processors to run them.
  static bool Worthwhile() { return std::thread::hardware_concurrency() > 1; }

 private:
  void Work() {
    std::unique_lock<std::mutex> lock(mutex_);
    while (true) {
      wake_.wait(lock, [this] { return quit_ || job_ != nullptr; });
      if (job_ == nullptr) return;  // quitting with nothing left to run
      const std::function<void()>* job = job_;
      job_ = nullptr;
      lock.unlock();
      (*job)();
      lock.lock();
      done_ = true;
      finished_.notify_all();
    }
  }

  std::mutex mutex_;
  std::condition_variable wake_, finished_;
  const std::function<void()>* job_ = nullptr;
  bool done_ = true;
  bool quit_ = false;
  std::thread worker_;  // last: it starts once everything above is ready
};

}  // namespace orvella::cli
