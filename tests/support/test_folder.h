// A fresh, empty folder per test, named after the test, under the system's
// temporary folder.
#pragma once

#include <gtest/gtest.h>

#include <cctype>
#include <filesystem>
#include <string>

inline std::string TestFolder(const std::string& prefix) {
    const ::testing::TestInfo* info = ::testing::UnitTest::GetInstance()->current_test_info();
    std::string name = prefix + info->test_suite_name() + "_" + info->name();
    for (char& c : name)
        if (!std::isalnum(static_cast<unsigned char>(c)) && c != '_') c = '_';
    std::filesystem::path p = std::filesystem::temp_directory_path() / name;
    std::error_code ec;
    std::filesystem::remove_all(p, ec);
    std::filesystem::create_directories(p);
    return p.string();
}
