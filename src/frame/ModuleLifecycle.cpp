#include "frame/ModuleLifecycle.h"

#include <new>

namespace velorik {

namespace {

platform::AFX_EXTENSION_MODULE extensionModule;
// The CDynLinkLibrary lives in static storage: the library allocates nothing
// itself, so its creation cannot fail.
alignas(platform::CDynLinkLibrary) unsigned char libraryStorage[sizeof(platform::CDynLinkLibrary)];
platform::CDynLinkLibrary* library;

}  // namespace

void ModuleLoadEarly() noexcept {
    platform::AFX_MODULE_STATE* state = platform::AfxGetModuleState();
    state->classInit = state->classList;
    state->factoryInit = state->factoryList;
    state->classList = nullptr;
    state->factoryList = nullptr;
}

bool ModuleLoad(platform::HINSTANCE instance) noexcept {
    if (!platform::AfxInitExtensionModule(extensionModule, instance)) return false;
    if (library == nullptr) library = new (libraryStorage) platform::CDynLinkLibrary(extensionModule);
    return true;
}

void ModuleUnload() noexcept {
    platform::AfxTermExtensionModule(extensionModule);
    if (library != nullptr) {
        library->~CDynLinkLibrary();
        library = nullptr;
    }
}

const platform::AFX_EXTENSION_MODULE& ModuleRecord() noexcept { return extensionModule; }

bool ModuleLinked() noexcept {
    if (library == nullptr) return false;
    for (auto* link = platform::AfxGetModuleState()->libraryList; link; link = link->m_pNextDLL)
        if (link == library) return true;
    return false;
}

}  // namespace velorik
