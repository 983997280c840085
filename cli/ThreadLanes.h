#pragma once
// The tool's lane runner: lane 0 of every chunk on a second thread, lane 1 on the
// calling one, so the whole-file digests and the range digests are computed side by
// side. Only the tool starts threads; the core below it never does.

#include <condition_variable>
#include <exception>
#include <functional>
#include <memory>
#include <mutex>
#include <system_error>
#include <thread>
#include <utility>

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
    // Lane 0 works on the caller's data: it must have ended before anything unwinds.
    std::exception_ptr failed;
    try {
      lane1();
    } catch (...) {
      failed = std::current_exception();
    }
    std::unique_lock<std::mutex> lock(mutex_);
    finished_.wait(lock, [this] { return done_; });
    std::exception_ptr fromWorker = std::exchange(workerFailed_, nullptr);
    if (!failed) failed = fromWorker;
    if (failed) std::rethrow_exception(failed);
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
      std::exception_ptr failed;
      try {
        (*job)();
      } catch (...) {
        failed = std::current_exception();
      }
      lock.lock();
      workerFailed_ = failed;
      done_ = true;
      finished_.notify_all();
    }
  }

  std::mutex mutex_;
  std::condition_variable wake_, finished_;
  const std::function<void()>* job_ = nullptr;
  std::exception_ptr workerFailed_;  // what lane 0 threw, handed to Run's caller
  bool done_ = true;
  bool quit_ = false;
  std::thread worker_;  // last: it starts once everything above is ready
};

// The runner for two lanes of work: side by side where a second processor pays and a
// second thread can be started, otherwise one after the other.
inline std::unique_ptr<LaneRunner> MakeLaneRunner() {
  if (ThreadLanes::Worthwhile()) {
    try {
      return std::make_unique<ThreadLanes>();
    } catch (const std::system_error&) {
      // No second thread to be had.
    }
  }
  return std::make_unique<LaneRunner>();
}

// The NAND check's side-by-side step through `runner`: the next chunk read beside the
// check of the present one.
inline std::function<void(const std::function<void()>&, const std::function<void()>&)> SideBySide(
    LaneRunner& runner) {
  return [&runner](const std::function<void()>& read, const std::function<void()>& check) {
    runner.Run(read, check);
  };
}

}  // namespace orvella::cli
