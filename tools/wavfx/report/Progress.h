// A progress bar on standard error, for work that lasts: files and bytes done,
// the rate and the time left. Drawn only on a terminal, and only once the work
// has taken about a second; messages printed through it keep the bar intact.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <map>
#include <mutex>
#include <string>
#include <thread>

namespace wavfx {

class Progress {
public:
    Progress(uint64_t totalBytes, int totalFiles);
    ~Progress();
    Progress(const Progress&) = delete;
    Progress& operator=(const Progress&) = delete;

    // While watched, the size of `path` (an output being written) counts as done.
    void Watch(const std::string& path);
    // The file is finished: `bytes` count as done for good.
    void Finished(const std::string& path, uint64_t bytes);
    // A line on standard error.
    void Message(const std::string& line);

private:
    void Run();
    void Draw();  // with the lock held
    void Clear();

    const uint64_t totalBytes_;
    const int totalFiles_;
    const std::chrono::steady_clock::time_point begin_ = std::chrono::steady_clock::now();
    std::mutex lock_;
    std::condition_variable stop_;
    std::map<std::string, uint64_t> watched_;
    uint64_t doneBytes_ = 0;
    int doneFiles_ = 0;
    bool quit_ = false, drawn_ = false;
    std::thread thread_;
};

}  // namespace wavfx
