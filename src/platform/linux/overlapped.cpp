#include "platform/linux/overlapped.h"

#include <liburing.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <thread>
#include <vector>

namespace platform::linuxbe {

uint64_t MonotonicUs() {
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<uint64_t>(ts.tv_sec) * 1000000u + static_cast<uint64_t>(ts.tv_nsec) / 1000u;
}

namespace {

// Completions handed from the thread that sees them to the one that waits.
class CompletionQueue {
public:
    void Issued() {
        std::lock_guard lock(mutex_);
        ++inFlight_;
    }
    // Stamped under the lock, so the queue's order is the order of the stamps:
    // threads that finish together may reach here in either order.
    void Done(ReadCompletion c) {
        {
            std::lock_guard lock(mutex_);
            c.completedUs = MonotonicUs();
            done_.push_back(c);
        }
        ready_.notify_one();
    }
    bool Wait(ReadCompletion& out) {
        std::unique_lock lock(mutex_);
        if (inFlight_ == 0) return false;
        ready_.wait(lock, [this] { return !done_.empty(); });
        out = done_.front();
        done_.pop_front();
        --inFlight_;
        return true;
    }
    void Drain() {
        ReadCompletion c;
        while (Wait(c)) {
        }
    }

private:
    std::mutex mutex_;
    std::condition_variable ready_;
    std::deque<ReadCompletion> done_;
    size_t inFlight_ = 0;
};

ReadCompletion Completion(uint64_t key, int64_t res) {
    ReadCompletion c;
    c.key = key;
    c.completedUs = MonotonicUs();
    if (res < 0) c.error = static_cast<uint32_t>(-res);
    else c.bytes = static_cast<uint32_t>(res);
    return c;
}

class UringReads final : public OverlappedReads {
public:
    // Keys of the ring's own requests; block keys never come near them.
    static constexpr uint64_t StopKey = ~uint64_t{0};
    static constexpr uint64_t CancelKey = ~uint64_t{0} - 1;

    static std::unique_ptr<UringReads> Create(int fd, uint32_t depth) {
        auto r = std::unique_ptr<UringReads>(new UringReads(fd));
        // Room for the reads, a cancel and the stop request.
        if (io_uring_queue_init(depth + 2, &r->ring_, 0) != 0) return nullptr;
        r->ringUp_ = true;
        r->reaper_ = std::thread([p = r.get()] { p->Reap(); });
        return r;
    }
    ~UringReads() override {
        if (!ringUp_) return;
        Cancel();
        queue_.Drain();
        if (io_uring_sqe* sqe = GetSqe()) {
            io_uring_prep_nop(sqe);
            io_uring_sqe_set_data64(sqe, StopKey);
            io_uring_submit(&ring_);
            reaper_.join();
            io_uring_queue_exit(&ring_);
        } else {
            reaper_.detach();  // no room with nothing in flight cannot happen; never hang here
        }
    }
    const char* Kind() const override { return "io_uring"; }

    int Submit(void* buffer, uint32_t size, int64_t offset, uint64_t key) override {
        io_uring_sqe* sqe = GetSqe();
        if (!sqe) return EAGAIN;
        io_uring_prep_read(sqe, fd_, buffer, size, static_cast<uint64_t>(offset));
        io_uring_sqe_set_data64(sqe, key);
        queue_.Issued();
        int rc = io_uring_submit(&ring_);
        if (rc < 0) {
            // Not queued: complete it here, so the waiter sees it fail.
            queue_.Done(Completion(key, rc));
        }
        return 0;
    }
    bool Wait(ReadCompletion& out) override { return queue_.Wait(out); }
    void Cancel() override {
        if (io_uring_sqe* sqe = GetSqe()) {
            io_uring_prep_cancel_fd(sqe, fd_, IORING_ASYNC_CANCEL_ALL);
            io_uring_sqe_set_data64(sqe, CancelKey);
            io_uring_submit(&ring_);
        }
    }

private:
    explicit UringReads(int fd) : fd_(fd) {}

    io_uring_sqe* GetSqe() {
        io_uring_sqe* sqe = io_uring_get_sqe(&ring_);
        if (!sqe) {
            io_uring_submit(&ring_);
            sqe = io_uring_get_sqe(&ring_);
        }
        return sqe;
    }

    void Reap() {
        for (;;) {
            io_uring_cqe* cqe = nullptr;
            int rc = io_uring_wait_cqe(&ring_, &cqe);
            if (rc == -EINTR) continue;
            if (rc < 0) return;
            const uint64_t key = io_uring_cqe_get_data64(cqe);
            const int32_t res = cqe->res;
            io_uring_cqe_seen(&ring_, cqe);
            if (key == StopKey) return;
            if (key == CancelKey) continue;
            queue_.Done(Completion(key, res));
        }
    }

    int fd_;
    io_uring ring_{};
    bool ringUp_ = false;
    std::thread reaper_;
    CompletionQueue queue_;
};

class ThreadReads final : public OverlappedReads {
public:
    ThreadReads(int fd, uint32_t depth) : fd_(fd) {
        for (uint32_t i = 0; i < depth; ++i) threads_.emplace_back([this] { Work(); });
    }
    ~ThreadReads() override {
        Cancel();
        {
            std::lock_guard lock(mutex_);
            stop_ = true;
        }
        work_.notify_all();
        for (auto& t : threads_) t.join();
        queue_.Drain();
    }
    const char* Kind() const override { return "pread threads"; }

    int Submit(void* buffer, uint32_t size, int64_t offset, uint64_t key) override {
        queue_.Issued();
        {
            std::lock_guard lock(mutex_);
            jobs_.push_back({buffer, size, offset, key});
        }
        work_.notify_one();
        return 0;
    }
    bool Wait(ReadCompletion& out) override { return queue_.Wait(out); }
    // Reads not yet started are taken back; a pread under way runs to its end.
    void Cancel() override {
        std::deque<Job> dropped;
        {
            std::lock_guard lock(mutex_);
            dropped.swap(jobs_);
        }
        for (const Job& j : dropped) queue_.Done(Completion(j.key, -ECANCELED));
    }

private:
    struct Job {
        void* buffer;
        uint32_t size;
        int64_t offset;
        uint64_t key;
    };

    void Work() {
        for (;;) {
            Job j{};
            {
                std::unique_lock lock(mutex_);
                work_.wait(lock, [this] { return stop_ || !jobs_.empty(); });
                if (jobs_.empty()) return;
                j = jobs_.front();
                jobs_.pop_front();
            }
            ssize_t n;
            do n = ::pread(fd_, j.buffer, j.size, j.offset);
            while (n < 0 && errno == EINTR);
            queue_.Done(Completion(j.key, n < 0 ? -errno : n));
        }
    }

    int fd_;
    std::mutex mutex_;
    std::condition_variable work_;
    std::deque<Job> jobs_;
    bool stop_ = false;
    std::vector<std::thread> threads_;
    CompletionQueue queue_;
};

}  // namespace

std::unique_ptr<OverlappedReads> MakeOverlappedReads(int fd, uint32_t depth, OverlappedMode mode) {
    if (mode == OverlappedMode::Off || depth == 0) return nullptr;
    if (mode == OverlappedMode::Auto)
        if (auto r = UringReads::Create(fd, depth)) return r;
    return std::make_unique<ThreadReads>(fd, depth);
}

}  // namespace platform::linuxbe
