#include <gtest/gtest.h>

#include <atomic>
#include <latch>
#include <memory>
#include <mutex>
#include <semaphore>
#include <vector>

#include "transfer/CThreadPool.h"

using namespace DOWNANT;

namespace {

// What the requests of one test did, in order.
struct Journal {
  std::mutex mutex;
  std::vector<int> ran;
  std::vector<int> deleted;
  std::vector<uint32_t> threadIds;
};

class Recorded : public CThreadRequest {
 public:
  Recorded(Journal& journal, int id) : journal_(journal), id_(id) {}
  ~Recorded() override {
    std::lock_guard lock(journal_.mutex);
    journal_.deleted.push_back(id_);
  }
  void Run(uint32_t threadId) override {
    std::lock_guard lock(journal_.mutex);
    journal_.ran.push_back(id_);
    journal_.threadIds.push_back(threadId);
  }
  void Stop() override {}

 private:
  Journal& journal_;
  int id_;
};

// Holds the worker until it is stopped.
class Blocking : public CThreadRequest {
 public:
  Blocking(std::latch& running, std::atomic<bool>& stopped) : running_(running), stopped_(stopped) {}
  void Run(uint32_t) override {
    running_.count_down();
    release_.acquire();
  }
  void Stop() override {
    stopped_ = true;
    release_.release();
  }

 private:
  std::latch& running_;
  std::atomic<bool>& stopped_;
  std::binary_semaphore release_{0};
};

}  // namespace

TEST(CThreadPool, RunsRequestsInOrderOnOneWorkerAndDeletesThem) {
  Journal journal;
  CThreadPool pool;
  std::unique_ptr<CThreadRequest> early = std::make_unique<Recorded>(journal, 0);
  EXPECT_FALSE(pool.AddRequest(early));  // not started
  EXPECT_NE(early, nullptr);
  EXPECT_EQ(pool.Start(), 1);
  EXPECT_EQ(pool.Start(), 1);  // already running: no second worker
  EXPECT_TRUE(pool.IsStarted());
  std::unique_ptr<CThreadRequest> none;
  EXPECT_FALSE(pool.AddRequest(none));

  for (int id = 1; id <= 5; ++id) {
    std::unique_ptr<CThreadRequest> request = std::make_unique<Recorded>(journal, id);
    ASSERT_TRUE(pool.AddRequest(request));
    EXPECT_EQ(request, nullptr);
  }
  pool.Shutdown();  // the pill queues behind the five
  EXPECT_FALSE(pool.IsStarted());
  EXPECT_EQ(journal.ran, (std::vector<int>{1, 2, 3, 4, 5}));
  EXPECT_EQ(journal.deleted, (std::vector<int>{1, 2, 3, 4, 5}));
  for (uint32_t id : journal.threadIds) EXPECT_EQ(id, journal.threadIds.front());
  EXPECT_NE(journal.threadIds.front(), 0u);
}

// With the worker held, the queue takes 100 requests and refuses the 101st;
// Shutdown then finds no room for its pill, stops the held request and drops
// the queued ones without running them.
TEST(CThreadPool, AFullQueueRefusesAndShutdownCutsOffABusyWorker) {
  Journal journal;
  std::latch running(1);
  std::atomic<bool> stopped = false;
  CThreadPool pool;
  ASSERT_EQ(pool.Start(), 1);
  std::unique_ptr<CThreadRequest> held = std::make_unique<Blocking>(running, stopped);
  ASSERT_TRUE(pool.AddRequest(held));
  running.wait();

  for (int id = 0; id < static_cast<int>(CThreadPool::kQueueLimit); ++id) {
    std::unique_ptr<CThreadRequest> request = std::make_unique<Recorded>(journal, id);
    ASSERT_TRUE(pool.AddRequest(request)) << id;
  }
  std::unique_ptr<CThreadRequest> extra = std::make_unique<Recorded>(journal, 1000);
  EXPECT_FALSE(pool.AddRequest(extra));
  EXPECT_NE(extra, nullptr);
  extra.reset();

  pool.Shutdown();
  EXPECT_TRUE(stopped);
  EXPECT_TRUE(journal.ran.empty());
  EXPECT_EQ(journal.deleted.size(), CThreadPool::kQueueLimit + 1);  // the extra one and the queued ones

  // The pool starts again after a shutdown.
  ASSERT_EQ(pool.Start(), 1);
  std::unique_ptr<CThreadRequest> again = std::make_unique<Recorded>(journal, 7);
  ASSERT_TRUE(pool.AddRequest(again));
  pool.Shutdown();
  EXPECT_EQ(journal.ran, std::vector<int>{7});
}
