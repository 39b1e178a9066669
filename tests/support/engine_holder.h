// What every engine fixture holds: the owner's settings and flags that the
// engine refers to, an image folder of the test's own, and the engine, made
// with the clock and client the fixture puts in.
#pragma once

#include <atomic>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <string>

#include "engine/engine.h"
#include "engine/engine_seam.h"
#include "support/test_folder.h"

class EngineHolder {
  public:
    CLumoraSettings settings;
    std::atomic<int32_t> closing{0};
    std::atomic<int32_t> hosttype{0};
    std::string folder;  // the image folder, without a trailing separator
    std::unique_ptr<CLumoraEngine> engine;

  protected:
    // A fresh image folder (named after the test) and an engine on it.
    void MakeEngine(const std::string& folderPrefix, Clock* clock, CLumoraApi* client = nullptr) {
        folder = TestFolder(folderPrefix);
        while (!folder.empty() && (folder.back() == '/' || folder.back() == '\\')) folder.pop_back();
        settings.ImgFolder = folder;
        settings.MaxLocal = 100;
        engine.reset(new CLumoraEngine(settings, closing, hosttype));
        engine->ForTesting().UseClock(clock);
        if (client) engine->ForTesting().UseClient(client);
    }
    // The engine goes first (its worker object may still refer to the
    // folder); the folder stays for a look when keep is set.
    void DropEngine(bool keepFolder) {
        engine.reset();
        std::error_code ec;
        if (!keepFolder) std::filesystem::remove_all(std::filesystem::path(folder), ec);
    }
};
