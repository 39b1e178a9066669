// An engine over a folder of its own for the state-file fuzz targets.
#pragma once

#include <atomic>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <string>
#include <system_error>

#include <unistd.h>

#include "engine/engine.h"

struct StateBox {
    std::filesystem::path root;
    CLumoraSettings settings;
    std::atomic<int32_t> closing{0}, hosttype{1};
    std::unique_ptr<CLumoraEngine> engine;

    explicit StateBox(const char* name) {
        root = std::filesystem::temp_directory_path() / (std::string(name) + "_" + std::to_string(::getpid()));
        std::error_code ec;
        std::filesystem::remove_all(root, ec);
        std::filesystem::create_directories(root);
        settings.ImgFolder = root.string();
        Reset();
    }
    void Reset() { engine.reset(new CLumoraEngine(settings, closing, hosttype)); }
    std::string Folder() const { return root.string(); }
    void Write(const char* file, const std::string& bytes) {
        if (FILE* f = std::fopen((root / file).string().c_str(), "wb")) {
            std::fwrite(bytes.data(), 1, bytes.size(), f);
            std::fclose(f);
        }
    }
    void Remove(const char* file) {
        std::error_code ec;
        std::filesystem::remove(root / file, ec);
    }
};
