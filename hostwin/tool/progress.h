// Progress lines on standard error for steps that take longer than a second (loading a large
// registry, copying a machine folder, comparing two of them). Quick steps print nothing.
#ifndef HOSTWIN_TOOL_PROGRESS_H
#define HOSTWIN_TOOL_PROGRESS_H

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <string>
#include <thread>

namespace hostwin_tool {

// While alive, watches the step: when a second has passed, prints "hostwin: WHAT..." and,
// when the step ends, "hostwin: WHAT: done in N.N s".
class ProgressStep {
public:
    explicit ProgressStep(std::string what);
    ~ProgressStep();
    ProgressStep(const ProgressStep&) = delete;
    ProgressStep& operator=(const ProgressStep&) = delete;

private:
    void Watch();

    std::string what_;
    std::chrono::steady_clock::time_point start_;
    std::mutex mutex_;
    std::condition_variable finished_;
    bool done_ = false;
    bool announced_ = false;
    std::thread watcher_;
};

// "164 MB", "16 kB", "12 bytes": a size for a progress line.
std::string ReadableSize(unsigned long long bytes);

}  // namespace hostwin_tool

#endif
