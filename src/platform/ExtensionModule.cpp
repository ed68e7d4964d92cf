#include "platform/ExtensionModule.h"

namespace velorik::platform {

namespace {
AFX_MODULE_STATE moduleState;
}

AFX_MODULE_STATE* AfxGetModuleState() noexcept { return &moduleState; }

CDynLinkLibrary::CDynLinkLibrary(AFX_EXTENSION_MODULE& module) noexcept
    : m_hModule(module.hModule), m_pNextDLL(moduleState.libraryList) {
    moduleState.libraryList = this;
}

CDynLinkLibrary::~CDynLinkLibrary() {
    for (CDynLinkLibrary** link = &moduleState.libraryList; *link != nullptr;
         link = &(*link)->m_pNextDLL) {
        if (*link == this) {
            *link = m_pNextDLL;
            break;
        }
    }
}

bool AfxInitExtensionModule(AFX_EXTENSION_MODULE& module, HINSTANCE instance) noexcept {
    if (module.bInitialized) return true;  // a second init of the same record is harmless
    module.hModule = instance;
    module.hResource = instance;
    module.pFirstSharedClass = moduleState.classInit;
    module.pFirstSharedFactory = moduleState.factoryInit;
    module.bInitialized = true;
    return true;
}

void AfxTermExtensionModule(AFX_EXTENSION_MODULE& module) noexcept {
    // Unlinking happens when the module's CDynLinkLibrary is destroyed; the
    // record itself only forgets the module.
    module.bInitialized = false;
    module.pFirstSharedClass = nullptr;
    module.pFirstSharedFactory = nullptr;
}

}  // namespace velorik::platform
