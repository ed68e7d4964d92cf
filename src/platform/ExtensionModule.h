// The least of an application framework's extension-module bookkeeping that the
// library's load and unload steps use. No such framework exists on our targets,
// so this keeps the framework's records in the module itself.
#pragma once

namespace velorik::platform {

using HINSTANCE = void*;

// List heads are opaque here: the module registers no classes or factories.
struct CRuntimeClass;
struct COleObjectFactory;
class CDynLinkLibrary;

struct AFX_MODULE_STATE {
    CRuntimeClass* classList;        // live list of runtime classes
    COleObjectFactory* factoryList;  // live list of class factories
    CRuntimeClass* classInit;        // initial lists, filled at load
    COleObjectFactory* factoryInit;
    CDynLinkLibrary* libraryList;    // chain of extension libraries
};

struct AFX_EXTENSION_MODULE {
    bool bInitialized;
    HINSTANCE hModule;
    HINSTANCE hResource;
    CRuntimeClass* pFirstSharedClass;
    COleObjectFactory* pFirstSharedFactory;
};

class CDynLinkLibrary {
public:
    explicit CDynLinkLibrary(AFX_EXTENSION_MODULE& module) noexcept;
    ~CDynLinkLibrary();
    CDynLinkLibrary(const CDynLinkLibrary&) = delete;
    CDynLinkLibrary& operator=(const CDynLinkLibrary&) = delete;

    HINSTANCE m_hModule;
    CDynLinkLibrary* m_pNextDLL;
};

AFX_MODULE_STATE* AfxGetModuleState() noexcept;
bool AfxInitExtensionModule(AFX_EXTENSION_MODULE& module, HINSTANCE instance) noexcept;
void AfxTermExtensionModule(AFX_EXTENSION_MODULE& module) noexcept;

}  // namespace velorik::platform
