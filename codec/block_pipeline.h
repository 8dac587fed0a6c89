// Threads working on consecutive blocks of one operation: producers hand
// each finished block to one consumer through two slots, so that blocks
// k + 1 (and k + 2) are produced while block k is consumed. Producers take
// their turns in block order for the part of their work that must be
// sequential (reading the input), and the consumer takes the blocks in
// order, so the result is the one of the stages run one after the other.
//
// The encoder fills and sorts in two threads, each with its own buffers,
// taking the blocks in turn, and codes in the caller's thread; the decoder
// decodes symbols in the caller's thread and inverts and writes in a second
// one. A failure anywhere stops all: the other sides' waits return false,
// and the operation rethrows the first failure once its threads have ended.
#ifndef VEK_CODEC_BLOCK_PIPELINE_H
#define VEK_CODEC_BLOCK_PIPELINE_H

#include <condition_variable>
#include <cstdint>
#include <exception>
#include <mutex>
#include <system_error>
#include <thread>

#include "processor_load.h"

// Threads an operation works with: the environment variable VEK_THREADS
// when it holds a number from 1 on, otherwise the number of processors; at
// most 2. With 1 the operation runs in the caller's thread alone. `fixed`
// when VEK_THREADS chose: the number is then used as it is, while by default
// a decode takes its second thread only where a processor is free for it
// (ProcessorCheck).
struct ThreadSetting {
    unsigned threads;
    bool fixed;
};
ThreadSetting operationThreads();

// Whether an operation may take its second thread. Never where one thread
// is allowed; always where VEK_THREADS fixed two (`forced`); otherwise
// where the processors leave room for it, told from the processors' idle
// time and the operation's thread's own time since the check was made (in
// that thread, while it works alone). Where other work keeps the other
// processor busy, the second thread takes its time from the first one's
// processor, and the operation ends later than in one thread.
class ProcessorCheck {
public:
    enum Verdict { UNKNOWN, FREE, BUSY };
    // Where the readings come from: the system's, a test's, or none.
    typedef platform::LoadReading (*Reader)();
    explicit ProcessorCheck(ThreadSetting threads, Reader read = platform::readProcessorLoad)
        : read_(threads.threads >= 2 && !threads.fixed ? read : nullptr),
          decided_(threads.threads < 2 ? BUSY : threads.fixed ? FREE : UNKNOWN),
          start_(read_ != nullptr ? read_() : platform::LoadReading()) {}
    // Decided at once by the setting; otherwise UNKNOWN until the stretch
    // since the start is long enough to tell (or for good where there are no
    // readings), then FREE where the thread had room for two threads on
    // average, BUSY where it had less. Called in the thread that made the
    // check.
    Verdict verdict() const;
    // VEK_THREADS asked for the second thread: the operation takes it
    // wherever it can use one.
    bool forced() const { return decided_ == FREE; }

private:
    Reader read_;
    Verdict decided_;
    platform::LoadReading start_;
};

class BlockPipeline {
public:
    static const uint32_t SLOTS = 2;

    // Producer: waits for the turn of block k (the block before it has been
    // started) and for its slot (block k - 2 consumed); false once stopped
    // or when the last block has been started before k. *waited tells
    // whether it had to wait.
    bool waitForTurn(uint32_t block, bool *waited = nullptr);
    // Producer: block k has taken its input, so block k + 1 may start;
    // `last` when it is the last block.
    void passTurn(uint32_t block, bool last);
    // Producer: block k is ready in its slot.
    void publish(uint32_t block);
    // Consumer: waits until block k is ready; false once stopped.
    bool waitForBlock(uint32_t block);
    // Consumer: the slot of the oldest ready block is free again.
    void release();
    // Producer: whether the consumer has yet to release block k - 1, so
    // that it is not waiting for block k.
    bool consumerBehind(uint32_t block);
    // Either side: stops both, keeping the first failure.
    void fail(std::exception_ptr failure);
    void stop() { fail(nullptr); }
    std::exception_ptr failure();

private:
    std::mutex lock_;
    std::condition_variable changed_;
    uint32_t started_ = 0;         // blocks whose turn has passed
    uint32_t end_ = UINT32_MAX;    // the number of blocks, once the last has started
    uint32_t ready_[SLOTS] = {};   // block + 1 of the ready block in each slot
    uint32_t released_ = 0;
    bool stopped_ = false;
    std::exception_ptr failure_;
};

// The second thread of an operation: runs `work` and reports what it throws
// to the pipeline. The destructor stops the pipeline and joins, so the
// thread never outlives the operation, however it ends.
class StageThread {
public:
    explicit StageThread(BlockPipeline &pipeline) : pipeline_(pipeline) {}
    // Starts the thread; false if the system has no thread to give, when the
    // operation goes on in one thread.
    template <typename Work> bool start(Work work) {
        try {
            thread_ = std::thread([this, work] {
                try {
                    work();
                } catch (...) {
                    pipeline_.fail(std::current_exception());
                }
            });
        } catch (const std::system_error &) {
            return false;
        }
        return true;
    }
    ~StageThread() {
        if (thread_.joinable()) {
            pipeline_.stop();
            thread_.join();
        }
    }
    // Waits for the thread to end; rethrows the pipeline's failure.
    void finish();

    StageThread(const StageThread &) = delete;
    StageThread &operator=(const StageThread &) = delete;

private:
    BlockPipeline &pipeline_;
    std::thread thread_;
};

#endif
