#include "pixelops/mosaic/mosaic_workers.h"

#include <barrier>
#include <chrono>
#include <condition_variable>
#include <exception>
#include <latch>
#include <memory>
#include <mutex>
#include <optional>
#include <thread>
#include <vector>

#include "common/engine_ui.h"
#include "core/settings.h"
#include "platform/parallel_bands.h"
#include "platform/processor_features.h"

namespace astrelon {

namespace {

struct TStageSync;

// Runs the method's work after a stage, once, when the last worker arrives.
struct TBetweenStages {
  TStageSync* Sync;
  void operator()() noexcept;
};

// What the workers of one run share.
struct TStageSync {
  const TMosaicWorkerMethod& Method;
  std::span<TMosaicWorkerBlock> Blocks;
  std::latch Go{1};  // opened when the barrier knows its participants
  std::optional<std::barrier<TBetweenStages>> Barrier;
  int32_t Finished = 0;  // stages all workers have finished (written by the barrier's completion)
  std::mutex Mutex;
  std::condition_variable Done;
  int32_t Running = 0;  // threads still working
  std::exception_ptr Error;

  TStageSync(const TMosaicWorkerMethod& method, std::span<TMosaicWorkerBlock> blocks)
      : Method(method), Blocks(blocks) {}
  void Fail(std::exception_ptr e) {
    const std::lock_guard lock(Mutex);
    if (!Error) Error = e;
  }
  bool Failed() {
    const std::lock_guard lock(Mutex);
    return Error != nullptr;
  }
};

void TBetweenStages::operator()() noexcept {
  const int32_t stage = ++Sync->Finished;
  if (stage >= Sync->Method.Stages || !Sync->Method.Between || Sync->Failed()) return;
  try {
    Sync->Method.Between(stage, Sync->Blocks);
  } catch (...) {
    Sync->Fail(std::current_exception());
  }
}

// One worker: the blocks it runs (its own; for the calling thread, those of the
// workers that could not be started), stage by stage.
class TCCDInterpolThread {
public:
  TCCDInterpolThread(TStageSync& sync, std::vector<TMosaicWorkerBlock*> blocks)
      : sync_(sync), blocks_(std::move(blocks)) {}
  TCCDInterpolThread(const TCCDInterpolThread&) = delete;
  TCCDInterpolThread& operator=(const TCCDInterpolThread&) = delete;
  ~TCCDInterpolThread() {
    if (thread_.joinable()) thread_.join();
  }

  // Starts the thread, which waits for the go; throws when it cannot be started.
  void Start() {
    thread_ = StartBandThread([this] {
      sync_.Go.wait();
      Execute();
      const std::lock_guard lock(sync_.Mutex);
      if (--sync_.Running == 0) sync_.Done.notify_all();
    });
  }
  void Join() {
    if (thread_.joinable()) thread_.join();
  }

  // Every stage on the blocks, meeting the other workers after each one but the last.
  void Execute() {
    const int32_t stages = sync_.Method.Stages;
    for (int32_t s = 1; s <= stages; ++s) {
      for (TMosaicWorkerBlock* b : blocks_) {
        if (sync_.Failed()) break;
        try {
          sync_.Method.Stage(*b, s);
        } catch (...) {
          sync_.Fail(std::current_exception());
        }
      }
      if (s < stages) sync_.Barrier->arrive_and_wait();
    }
  }

private:
  TStageSync& sync_;
  std::vector<TMosaicWorkerBlock*> blocks_;
  std::thread thread_;
};

}  // namespace

void RunMosaicWorkers(std::span<TMosaicWorkerBlock> blocks, const TMosaicWorkerMethod& method) {
  if (blocks.empty() || method.Stages < 1 || !method.Stage) return;
  TStageSync sync(method, blocks);
  std::vector<std::unique_ptr<TCCDInterpolThread>> workers;
  std::vector<TMosaicWorkerBlock*> left;  // blocks whose thread could not be started
  for (TMosaicWorkerBlock& b : blocks) {
    auto worker = std::make_unique<TCCDInterpolThread>(sync, std::vector<TMosaicWorkerBlock*>{&b});
    try {
      worker->Start();
      workers.push_back(std::move(worker));
    } catch (...) {
      left.push_back(&b);
    }
  }
  sync.Running = int32_t(workers.size());
  sync.Barrier.emplace(std::ptrdiff_t(workers.size() + (left.empty() ? 0 : 1)), TBetweenStages{&sync});
  sync.Go.count_down();
  if (!left.empty()) {
    TCCDInterpolThread(sync, std::move(left)).Execute();
  } else {
    // Waiting: the user interface stays live; the workers do not wait for this thread.
    std::unique_lock lock(sync.Mutex);
    while (!sync.Done.wait_for(lock, std::chrono::milliseconds(20), [&] { return sync.Running == 0; })) {
      lock.unlock();
      EngineUi().ProcessMessages();
      lock.lock();
    }
  }
  for (auto& w : workers) w->Join();
  if (sync.Error) std::rethrow_exception(sync.Error);
}

int32_t MosaicWorkerCount(int32_t height) {
  if (!Options.Multicore || height <= 80) return 1;
  const int32_t cores = ProcessorCount > 1 ? ProcessorCount : int32_t(std::thread::hardware_concurrency());
  return std::max(cores, 1);
}

}  // namespace astrelon
