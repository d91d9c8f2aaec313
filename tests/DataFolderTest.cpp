// SPDX-License-Identifier: GPL-3.0-or-later

#include "catalog/DataFolder.h"
#include "TestTree.h"
#include "catalog/EngineError.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

namespace {

bool IsFolder(const std::string& strPath) {
    struct stat st {};
    return ::stat(strPath.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

} // namespace

TEST(DataFolder, FollowsXdgDataHomeAndIsCreated) {
    TestTree tree;
    const struct {
        std::string strDataHome;
        std::string strExpected;
    } kCases[] = {
        {tree.Path("xdg/deep"), tree.Path("xdg/deep/kestrel/")},
        {tree.Path("slash") + "/", tree.Path("slash/kestrel/")},
        {"relative/path", tree.Path("home/.local/share/kestrel/")}, // not absolute: ignored
        {"", tree.Path("home/.local/share/kestrel/")},
    };
    ScopedEnv home("HOME", tree.Path("home"));
    for (const auto& c : kCases) {
        ScopedEnv dataHome("XDG_DATA_HOME", c.strDataHome);
        const std::string strFolder = DataFolder();
        EXPECT_EQ(strFolder, c.strExpected) << c.strDataHome;
        EXPECT_TRUE(IsFolder(strFolder)) << strFolder;
    }
}

TEST(DataFolder, FailsClearlyWhenItCannotBeMade) {
    TestTree tree;
    tree.WriteFile("file", "in the way");
    ScopedEnv dataHome("XDG_DATA_HOME", tree.Path("file"));
    EXPECT_THROW(DataFolder(), EngineError);
}
