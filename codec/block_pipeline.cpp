#include "block_pipeline.h"

#include <cstdlib>

ThreadSetting operationThreads() {
    const unsigned STAGES = 2;
    const char *setting = std::getenv("VEK_THREADS");
    if (setting != nullptr && *setting != '\0') {
        char *end = nullptr;
        const long n = std::strtol(setting, &end, 10);
        if (*end == '\0' && n >= 1) return {n < static_cast<long>(STAGES) ? static_cast<unsigned>(n) : STAGES, true};
    }
    const unsigned processors = std::thread::hardware_concurrency();
    if (processors == 0) return {1, false};
    return {processors < STAGES ? processors : STAGES, false};
}

ProcessorCheck::Verdict ProcessorCheck::verdict() const {
    if (decided_ != UNKNOWN || read_ == nullptr) return decided_;
    // The verdict falls between one free processor (this thread's own) and
    // two.
    const double free = platform::processorsFreeForThread(start_, read_());
    if (free < 0) return UNKNOWN;
    return free >= 1.5 ? FREE : BUSY;
}

bool BlockPipeline::waitForTurn(uint32_t block, bool *waited) {
    std::unique_lock<std::mutex> guard(lock_);
    auto ready = [&] { return stopped_ || block >= end_ || (started_ == block && block - released_ < SLOTS); };
    if (waited != nullptr) *waited = !ready();
    changed_.wait(guard, ready);
    return !stopped_ && block < end_;
}

void BlockPipeline::passTurn(uint32_t block, bool last) {
    {
        std::lock_guard<std::mutex> guard(lock_);
        started_ = block + 1;
        if (last) end_ = block + 1;
    }
    changed_.notify_all();
}

void BlockPipeline::publish(uint32_t block) {
    {
        std::lock_guard<std::mutex> guard(lock_);
        ready_[block % SLOTS] = block + 1;
    }
    changed_.notify_all();
}

bool BlockPipeline::waitForBlock(uint32_t block) {
    std::unique_lock<std::mutex> guard(lock_);
    changed_.wait(guard, [&] { return stopped_ || ready_[block % SLOTS] == block + 1; });
    return !stopped_;
}

void BlockPipeline::release() {
    {
        std::lock_guard<std::mutex> guard(lock_);
        ++released_;
    }
    changed_.notify_all();
}

bool BlockPipeline::consumerBehind(uint32_t block) {
    std::lock_guard<std::mutex> guard(lock_);
    return released_ < block;
}

void BlockPipeline::fail(std::exception_ptr failure) {
    {
        std::lock_guard<std::mutex> guard(lock_);
        if (failure_ == nullptr) failure_ = failure;
        stopped_ = true;
    }
    changed_.notify_all();
}

std::exception_ptr BlockPipeline::failure() {
    std::lock_guard<std::mutex> guard(lock_);
    return failure_;
}

void StageThread::finish() {
    thread_.join();
    if (std::exception_ptr failure = pipeline_.failure()) std::rethrow_exception(failure);
}
