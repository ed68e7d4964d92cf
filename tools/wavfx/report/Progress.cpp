#include "report/Progress.h"

#include <cstdio>

#include "io/Files.h"
#include "system/System.h"
#include "system/Threads.h"

namespace wavfx {

namespace {

constexpr std::chrono::milliseconds Delay(1000), Tick(200);
constexpr int Width = 24;

std::string Clock(double seconds) {
    const long s = static_cast<long>(seconds + 0.5);
    char text[32];
    std::snprintf(text, sizeof text, "%ld:%02ld", s / 60, s % 60);
    return text;
}

}  // namespace

Progress::Progress(uint64_t totalBytes, int totalFiles) : totalBytes_(totalBytes), totalFiles_(totalFiles) {
    // No bar where no thread can start for it.
    if (sys::IsTerminal(stderr)) sys::StartThread(thread_, [this] { Run(); });
}

Progress::~Progress() {
    {
        std::lock_guard<std::mutex> held(lock_);
        quit_ = true;
    }
    stop_.notify_all();
    if (thread_.joinable()) thread_.join();
    Clear();
}

void Progress::Watch(const std::string& path) {
    std::lock_guard<std::mutex> held(lock_);
    watched_[path] = 0;
}

void Progress::Finished(const std::string& path, uint64_t bytes) {
    std::lock_guard<std::mutex> held(lock_);
    watched_.erase(path);
    doneBytes_ += bytes;
    ++doneFiles_;
}

void Progress::Message(const std::string& line) {
    std::lock_guard<std::mutex> held(lock_);
    Clear();
    std::fprintf(stderr, "%s\n", line.c_str());
}

void Progress::Clear() {
    if (!drawn_) return;
    std::fprintf(stderr, "\r%*s\r", 79, "");
    drawn_ = false;
}

void Progress::Run() {
    std::unique_lock<std::mutex> held(lock_);
    if (stop_.wait_for(held, Delay, [this] { return quit_; })) return;
    while (!quit_) {
        Draw();
        stop_.wait_for(held, Tick, [this] { return quit_; });
    }
}

void Progress::Draw() {
    uint64_t done = doneBytes_;
    for (auto& [path, bytes] : watched_) done += bytes = FileSize(path);
    if (done > totalBytes_) done = totalBytes_;
    const double elapsed = std::chrono::duration<double>(std::chrono::steady_clock::now() - begin_).count();
    const double rate = elapsed > 0 ? done / elapsed : 0;
    const int filled = totalBytes_ > 0 ? static_cast<int>(Width * static_cast<double>(done) / totalBytes_) : 0;
    const std::string left = rate > 0 ? Clock((totalBytes_ - done) / rate) + " left" : "";
    std::fprintf(stderr, "\r[%s%s] %d/%d files  %.1f/%.1f MB  %.1f MB/s  %s ", std::string(filled, '#').c_str(),
                 std::string(Width - filled, '.').c_str(), doneFiles_, totalFiles_, done / 1e6, totalBytes_ / 1e6,
                 rate / 1e6, left.c_str());
    std::fflush(stderr);
    drawn_ = true;
}

}  // namespace wavfx
