// Native build: the real module, loaded like a host loads it, must stay
// mapped while its worker runs, even when the host unloads it without a
// finished stop (the code and the engine the worker uses must not vanish).
#include <dlfcn.h>
#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <thread>
#include <atomic>

#include "common/host_callback.h"

namespace {

typedef int32_t (*MsgHandler)(uint32_t, HostWord, int32_t);

std::string g_folder;
std::atomic<int> g_logLines{0};

int32_t HostCallback(uint32_t code, HostWord first, HostWord) {
    if (code == PHC_LOG) ++g_logLines;
    if (code != PHC_READSETTING) return 1;
    SettingRecord* r = reinterpret_cast<SettingRecord*>(first);
    const std::string key = reinterpret_cast<const char*>(r->w[SR_KEY]);
    if (r->w[SR_TYPE] == SR_TYPE_INT) {
        if (key == "Enabled" || key == "nFeeds")
            r->w[SR_VALUE] = 1;
        else
            r->w[SR_VALUE] = r->w[SR_DEFAULT];
    } else {
        r->w[SR_VALUE] = key == "ImgFolder" ? reinterpret_cast<HostWord>(g_folder.c_str()) : r->w[SR_DEFAULT];
    }
    return 1;
}

TEST(ModuleUnload, ModuleStaysMappedWhileItsWorkerRuns) {
    g_folder = (std::filesystem::temp_directory_path() / "lumora_erun_unload").string();
    std::filesystem::create_directories(g_folder);
    // Nothing listens there: requests fail at once, the worker keeps looping.
    setenv("LUMORA_SERVICE_URL", "http://127.0.0.1:9", 1);

    void* module = dlopen(LUMORA_MODULE_PATH, RTLD_NOW | RTLD_LOCAL);
    ASSERT_NE(module, nullptr) << dlerror();
    MsgHandler handler = reinterpret_cast<MsgHandler>(dlsym(module, "vdtPlugInMsgHandler"));
    ASSERT_NE(handler, nullptr);
    handler(3, reinterpret_cast<HostWord>(&HostCallback), 0);
    handler(7, 0, 0);
    handler(9, 0, 0);
    // Wait until the worker has logged a few lines (bounded).
    for (int i = 0; i < 20000 && g_logLines.load() < 4; ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    ASSERT_GE(g_logLines.load(), 4);

    // The host lets go without a stop: the module must not be unmapped.
    ASSERT_EQ(dlclose(module), 0);
    void* still = dlopen(LUMORA_MODULE_PATH, RTLD_NOW | RTLD_NOLOAD);
    EXPECT_NE(still, nullptr) << "the module was unloaded under its running worker";
    if (still) {
        // End the worker properly through the still-mapped module.
        MsgHandler again = reinterpret_cast<MsgHandler>(dlsym(still, "vdtPlugInMsgHandler"));
        ASSERT_NE(again, nullptr);
        EXPECT_EQ(again, handler);
        again(10, 0, 1);
        dlclose(still);
    }
    std::error_code ec;
    std::filesystem::remove_all(g_folder, ec);
}

}  // namespace
