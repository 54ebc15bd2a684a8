#include "progress.h"

#include <cstdio>

namespace hostwin_tool {

ProgressStep::ProgressStep(std::string what)
    : what_(std::move(what)), start_(std::chrono::steady_clock::now()) {
    watcher_ = std::thread([this] { Watch(); });
}

ProgressStep::~ProgressStep() {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        done_ = true;
    }
    finished_.notify_one();
    watcher_.join();
    if (announced_) {
        const double seconds =
            std::chrono::duration<double>(std::chrono::steady_clock::now() - start_).count();
        std::fprintf(stderr, "hostwin: %s: done in %.1f s\n", what_.c_str(), seconds);
    }
}

void ProgressStep::Watch() {
    std::unique_lock<std::mutex> lock(mutex_);
    if (finished_.wait_for(lock, std::chrono::seconds(1), [this] { return done_; })) return;
    std::fprintf(stderr, "hostwin: %s...\n", what_.c_str());
    announced_ = true;
}

std::string ReadableSize(unsigned long long bytes) {
    char text[32];
    if (bytes >= 10ull * 1000 * 1000)
        std::snprintf(text, sizeof text, "%llu MB", (bytes + 500000) / 1000000);
    else if (bytes >= 10ull * 1000)
        std::snprintf(text, sizeof text, "%llu kB", (bytes + 500) / 1000);
    else
        std::snprintf(text, sizeof text, "%llu bytes", bytes);
    return text;
}

}  // namespace hostwin_tool
