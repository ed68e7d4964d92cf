// What the library does when it is loaded and unloaded. The OS entry points
// (an ELF constructor, DllMain) call these in order.
#pragma once

#include "platform/ExtensionModule.h"

namespace velorik {

// Before any static initialiser of the module: moves the framework's live
// class and factory lists to its initial slots.
void ModuleLoadEarly() noexcept;
// After static initialisers: registers the module as an extension module.
// False means the load must fail.
bool ModuleLoad(platform::HINSTANCE instance) noexcept;
// Deregisters the module; the runtime's own exit processing follows.
void ModuleUnload() noexcept;

// The module's record, for inspection.
const platform::AFX_EXTENSION_MODULE& ModuleRecord() noexcept;
bool ModuleLinked() noexcept;

}  // namespace velorik
