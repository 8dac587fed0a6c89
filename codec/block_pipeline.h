// Two threads working on consecutive blocks of one operation: a producer
// stage hands each finished block to a consumer stage through two slots, so
// that block k + 1 is produced while block k is consumed. Blocks pass in
// order and each stage runs on one thread, so the result is the one of the
// stages run one after the other.
//
// The encoder fills and sorts in the second thread and codes in the caller's;
// the decoder decodes symbols in the caller's thread and inverts and writes in
// the second one. A failure on either side stops both: the other side's wait
// returns false, and the operation rethrows the first failure once the second
// thread has ended.
#ifndef VEK_CODEC_BLOCK_PIPELINE_H
#define VEK_CODEC_BLOCK_PIPELINE_H

#include <condition_variable>
#include <cstdint>
#include <exception>
#include <mutex>
#include <system_error>
#include <thread>

// Threads an operation uses: the environment variable VEK_THREADS when it
// holds a number from 1 on, otherwise the number of processors; at most 2,
// the number of stages.
unsigned operationThreads();

class BlockPipeline {
public:
    static const int SLOTS = 2;

    // Producer: waits until the slot of block k is free; false once stopped.
    bool waitForSlot(uint32_t block);
    // Producer: block k is ready in its slot.
    void publish();
    // Consumer: waits until block k is ready; false once stopped.
    bool waitForBlock(uint32_t block);
    // Consumer: the slot of the oldest ready block is free again.
    void release();
    // Either side: stops both, keeping the first failure.
    void fail(std::exception_ptr failure);
    void stop() { fail(nullptr); }
    std::exception_ptr failure();

private:
    std::mutex lock_;
    std::condition_variable changed_;
    uint32_t published_ = 0;
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
