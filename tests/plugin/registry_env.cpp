// The plug-in tests' registry file: run by hand they must not touch the user's own.
#include <gtest/gtest.h>

#include <filesystem>

#include "platform/env.h"

namespace {

// Run by hand, the native registry stand-in would otherwise use the user's
// own file; CTest names one for the test, and this names one when it did not.
class RegistryFileEnvironment : public ::testing::Environment {
  public:
    void SetUp() override {
        if (plat::GetEnvVar("LUMORA_REGISTRY_FILE").empty())
            plat::SetEnvVar(
                "LUMORA_REGISTRY_FILE",
                (std::filesystem::temp_directory_path() / "lumora_plugin_tests_registry.ini").string());
    }
};
::testing::Environment* const g_registryEnv =
    ::testing::AddGlobalTestEnvironment(new RegistryFileEnvironment);

}  // namespace
