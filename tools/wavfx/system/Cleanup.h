// What a signal leaves behind: nothing of wavfx's own. Every temporary is
// registered while it exists, and SIGINT, SIGTERM, SIGHUP and SIGPIPE remove
// them all before wavfx ends by that signal. A command that finishes its work
// on a signal (record) asks for the first one to be a request instead.
#pragma once

#include <string>
#include <utility>
#include <vector>

namespace wavfx::cleanup {

// Installs the handlers; once, before any file is made.
void Install();
// A path to remove if a signal ends wavfx; the slot to unregister it by, or -1
// when the table is full (the path is then left to its owner alone).
int Register(const std::string& path);
void Unregister(int slot);

// What wavfx made and could not remove when it was done with it, and why: the
// command that ran says so at its end.
void LeftBehind(const std::string& path, const std::string& reason);
std::vector<std::pair<std::string, std::string>> TakeLeftBehind();

// While on, the first signal sets FinishRequested instead of ending wavfx;
// a second one ends it at once.
void FinishOnFirstSignal(bool on);
bool FinishRequested();

}  // namespace wavfx::cleanup
