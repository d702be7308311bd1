#include "support/temp_dir.h"

#include <gtest/gtest.h>
#include <stdlib.h>
#include <unistd.h>

#include <filesystem>

namespace velmot::testing {

TempDir::TempDir() {
    std::string pattern = (std::filesystem::temp_directory_path() / "velmot-test-XXXXXX").string();
    const char* made = ::mkdtemp(pattern.data());
    EXPECT_NE(made, nullptr);
    path_ = pattern;
}

TempDir::~TempDir() {
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
}

std::string TempDir::link(const std::string& name, const std::string& target) const {
    const std::string at = path_ + "/" + name;
    EXPECT_EQ(::symlink(target.c_str(), at.c_str()), 0) << at;
    return at;
}

}  // namespace velmot::testing
