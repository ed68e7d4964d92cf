#include "system/Cleanup.h"

#include <atomic>
#include <csignal>
#include <cstring>
#include <mutex>

#include "system/System.h"

namespace wavfx::cleanup {

namespace {

// A temporary and two pipes (a folder and a FIFO each) for every job of a batch.
constexpr int Slots = 256;
constexpr std::size_t PathBytes = 4096;
enum : int { Free, Filling, Armed };

// Fixed storage, so that the handler walks it without locks or allocation.
struct Slot {
    std::atomic<int> state{Free};
    char path[PathBytes]{};  // every member set: the table is made at build time, not touched page by page at start
};
Slot slots[Slots];

std::atomic<bool> finishFirst{false};

std::mutex leftLock;
std::vector<std::pair<std::string, std::string>> left;
volatile std::sig_atomic_t requested = 0;

extern "C" void OnSignal(int number) {
    if (finishFirst.load() && requested == 0) {
        requested = 1;
        sys::SignalArrived();
        return;
    }
    // Twice: a folder can go only once the files in it have.
    for (int pass = 0; pass < 2; ++pass)
        for (Slot& slot : slots)
            if (slot.state.load() == Armed) sys::RemoveNow(slot.path);
    sys::EndBySignal(number);
}

}  // namespace

void Install() { sys::HandleEndingSignals(OnSignal); }

int Register(const std::string& path) {
    if (path.size() >= PathBytes) return -1;
    for (int i = 0; i < Slots; ++i) {
        int expected = Free;
        if (!slots[i].state.compare_exchange_strong(expected, Filling)) continue;
        std::memcpy(slots[i].path, path.c_str(), path.size() + 1);
        slots[i].state.store(Armed);
        return i;
    }
    return -1;
}

void Unregister(int slot) {
    if (slot >= 0) slots[slot].state.store(Free);
}

void LeftBehind(const std::string& path, const std::string& reason) {
    std::lock_guard<std::mutex> held(leftLock);
    left.emplace_back(path, reason);
}

std::vector<std::pair<std::string, std::string>> TakeLeftBehind() {
    std::lock_guard<std::mutex> held(leftLock);
    return std::move(left);
}

void FinishOnFirstSignal(bool on) {
    requested = 0;
    finishFirst.store(on);
}

bool FinishRequested() { return requested != 0; }

}  // namespace wavfx::cleanup
