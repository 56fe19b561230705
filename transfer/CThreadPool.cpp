#include "transfer/CThreadPool.h"

#include <unistd.h>

#include <chrono>
#include <system_error>
#include <utility>

#include "platform/MessageWindow.h"

namespace DOWNANT {
namespace {

// How long Shutdown lets a worker reach its suicide pill.
constexpr std::chrono::milliseconds kEndWait{10};
// How often a cut-off wait looks whether the worker has ended.
constexpr std::chrono::milliseconds kEndPoll{5};

struct SuicideException {};

// Ends the worker that runs it.
class SuicidePill : public CThreadRequest {
 public:
  void Run(uint32_t) override { throw SuicideException{}; }
  void Stop() override {}
};

}  // namespace

CThreadPool::~CThreadPool() { Shutdown(); }

int CThreadPool::Start() {
  std::lock_guard lock(mutex_);
  if (started_) return static_cast<int>(workers_.size());
  try {
    while (workers_.size() < kWorkerCount) {
      auto worker = std::make_unique<Worker>();
      worker->thread = std::thread([this, raw = worker.get()] { WorkerLoop(*raw); });
      workers_.push_back(std::move(worker));
    }
  } catch (const std::system_error&) {
    if (workers_.empty()) return 0;
  }
  started_ = true;
  return static_cast<int>(workers_.size());
}

bool CThreadPool::IsStarted() const {
  std::lock_guard lock(mutex_);
  return started_;
}

bool CThreadPool::AddRequest(std::unique_ptr<CThreadRequest>& request) {
  if (!request) return false;
  {
    std::lock_guard lock(mutex_);
    if (!started_ || queue_.size() >= kQueueLimit) return false;
    queue_.push_back(std::move(request));
  }
  queued_.notify_one();
  return true;
}

std::unique_ptr<CThreadRequest> CThreadPool::TakeRequest(Worker& worker) {
  std::unique_lock lock(mutex_);
  queued_.wait(lock, [this] { return cutOff_ || !queue_.empty(); });
  if (cutOff_) return nullptr;
  std::unique_ptr<CThreadRequest> request = std::move(queue_.front());
  queue_.pop_front();
  worker.running = request.get();
  return request;
}

void CThreadPool::WorkerLoop(Worker& worker) {
  const auto threadId = static_cast<uint32_t>(::gettid());
  for (;;) {
    std::unique_ptr<CThreadRequest> request = TakeRequest(worker);
    if (!request) break;
    bool pill = false;
    try {
      request->Run(threadId);
    } catch (const SuicideException&) {
      pill = true;
    }
    {
      std::lock_guard lock(mutex_);
      worker.running = nullptr;
    }
    if (pill) break;
  }
  worker.ended.release();
}

void CThreadPool::CutOff() {
  std::deque<std::unique_ptr<CThreadRequest>> dropped;
  {
    std::lock_guard lock(mutex_);
    cutOff_ = true;
    for (const auto& worker : workers_) {
      if (worker->running != nullptr) worker->running->Stop();
    }
    dropped.swap(queue_);
  }
  queued_.notify_all();
}

void CThreadPool::Shutdown() {
  for (size_t i = 0; i < workers_.size(); ++i) {
    std::unique_ptr<CThreadRequest> pill = std::make_unique<SuicidePill>();
    if (!AddRequest(pill)) break;
  }
  {
    std::lock_guard lock(mutex_);
    started_ = false;
  }
  for (const auto& worker : workers_) {
    if (!worker->ended.try_acquire_for(kEndWait)) {
      CutOff();
      MessageLoop::RunUntil([&worker] { return worker->ended.try_acquire(); }, kEndPoll);
    }
    worker->thread.join();
  }
  workers_.clear();
  std::lock_guard lock(mutex_);
  cutOff_ = false;
  queue_.clear();
}

}  // namespace DOWNANT
