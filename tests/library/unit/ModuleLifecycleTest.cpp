#include "frame/ModuleLifecycle.h"

#include <gtest/gtest.h>

namespace velorik {
namespace {

using namespace platform;

TEST(ModuleLifecycle, LoadMovesLiveListsAndLinksTheModuleUnloadUnlinksIt) {
    ModuleUnload();  // unloading an unloaded module is harmless
    ASSERT_FALSE(ModuleLinked());

    AFX_MODULE_STATE* state = AfxGetModuleState();
    auto* classes = reinterpret_cast<CRuntimeClass*>(0x1000);
    auto* factories = reinterpret_cast<COleObjectFactory*>(0x2000);
    state->classList = classes;
    state->factoryList = factories;

    ModuleLoadEarly();
    EXPECT_EQ(state->classList, nullptr);
    EXPECT_EQ(state->factoryList, nullptr);
    EXPECT_EQ(state->classInit, classes);
    EXPECT_EQ(state->factoryInit, factories);

    int handle = 0;
    ASSERT_TRUE(ModuleLoad(&handle));
    EXPECT_TRUE(ModuleRecord().bInitialized);
    EXPECT_EQ(ModuleRecord().hModule, &handle);
    EXPECT_EQ(ModuleRecord().pFirstSharedClass, classes);
    EXPECT_EQ(ModuleRecord().pFirstSharedFactory, factories);
    EXPECT_TRUE(ModuleLinked());
    EXPECT_EQ(state->libraryList->m_hModule, &handle);

    ModuleUnload();
    EXPECT_FALSE(ModuleRecord().bInitialized);
    EXPECT_FALSE(ModuleLinked());
    EXPECT_EQ(state->libraryList, nullptr);

    state->classInit = nullptr;
    state->factoryInit = nullptr;
}

TEST(ModuleLifecycle, ChainKeepsOtherLibrariesWhenOneLeaves) {
    CDynLinkLibrary* const before = AfxGetModuleState()->libraryList;
    AFX_EXTENSION_MODULE first{}, second{};
    int a = 0, b = 0;
    AfxInitExtensionModule(first, &a);
    AfxInitExtensionModule(second, &b);
    {
        CDynLinkLibrary one(first);
        {
            CDynLinkLibrary two(second);
            EXPECT_EQ(AfxGetModuleState()->libraryList, &two);
            EXPECT_EQ(two.m_pNextDLL, &one);
        }
        EXPECT_EQ(AfxGetModuleState()->libraryList, &one);
        EXPECT_EQ(one.m_pNextDLL, before);
    }
    EXPECT_EQ(AfxGetModuleState()->libraryList, before);
}

}  // namespace
}  // namespace velorik
