// The segmented engine's thread pool: one worker thread that runs queued
// requests one after another, in the order they were queued.
//
// Ownership: a queued request belongs to the pool; the worker deletes it after
// its Run has returned. Threads: requests run on the worker; AddRequest and
// IsStarted may be called from any thread, Start and Shutdown from one
// thread at a time, never from the worker.
#pragma once

#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <semaphore>
#include <thread>
#include <vector>

namespace DOWNANT {

// One unit of work for the pool.
class CThreadRequest {
 public:
  virtual ~CThreadRequest() = default;
  // The work, on the worker thread whose system thread id is `threadId`.
  virtual void Run(uint32_t threadId) = 0;
  // Asks a running or queued request to end soon; any thread. A request that
  // ignores it keeps its worker, and so the pool's Shutdown, waiting.
  virtual void Stop() = 0;
};

class CThreadPool {
 public:
  static constexpr size_t kQueueLimit = 100;
  static constexpr int kWorkerCount = 1;

  CThreadPool() = default;
  // Shutdown.
  virtual ~CThreadPool();
  CThreadPool(const CThreadPool&) = delete;
  CThreadPool& operator=(const CThreadPool&) = delete;

  // Starts the workers unless they run already; returns the number of
  // workers (0 when the system refuses a thread).
  int Start();
  bool IsStarted() const;

  // Queues `request` and takes it (it becomes null). False, leaving it with
  // the caller, for a null request, a pool that is not started, or a queue
  // that already holds kQueueLimit requests.
  [[nodiscard]] bool AddRequest(std::unique_ptr<CThreadRequest>& request);

  // Queues one suicide pill per worker behind the waiting requests and gives
  // each worker 10 ms to reach it. A worker still busy then is cut off: its
  // running request is asked to Stop, the requests still queued are deleted
  // without running, and the worker is waited for. While waiting, the calling
  // thread delivers the messages sent to its windows, since a request may be
  // inside a synchronous send to one of them. Afterwards the pool is not
  // started; Start may start it again. Must not be called from inside a
  // message handler that a running request is waiting for.
  void Shutdown();

 private:
  struct Worker {
    std::thread thread;
    CThreadRequest* running = nullptr;  // guarded by mutex_
    std::binary_semaphore ended{0};     // released as the worker's last step
  };

  void WorkerLoop(Worker& worker);
  // Takes the next request for `worker`, waiting for one; null once the pool
  // is cut off.
  std::unique_ptr<CThreadRequest> TakeRequest(Worker& worker);
  void CutOff();

  mutable std::mutex mutex_;
  std::condition_variable queued_;
  std::deque<std::unique_ptr<CThreadRequest>> queue_;  // guarded by mutex_
  bool started_ = false;                               // guarded by mutex_
  bool cutOff_ = false;                                // guarded by mutex_
  std::vector<std::unique_ptr<Worker>> workers_;       // Start and Shutdown only
};

}  // namespace DOWNANT
