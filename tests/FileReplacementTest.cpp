// SPDX-License-Identifier: GPL-3.0-or-later

#include "search/FileReplacement.h"
#include "TestTree.h"

#include <algorithm>
#include <cerrno>
#include <dirent.h>
#include <fstream>
#include <gtest/gtest.h>
#include <sstream>
#include <sys/stat.h>
#include <vector>

namespace {

// The names in a folder, "." and ".." left out.
std::vector<std::string> Names(const std::string& strDir) {
    std::vector<std::string> names;
    if (DIR* pDir = ::opendir(strDir.c_str())) {
        while (const dirent* pEntry = ::readdir(pDir))
            if (std::string_view(pEntry->d_name) != "." && std::string_view(pEntry->d_name) != "..")
                names.emplace_back(pEntry->d_name);
        ::closedir(pDir);
    }
    std::sort(names.begin(), names.end());
    return names;
}

} // namespace

TEST(FileReplacementTest, ReplacesTheWholeFileReadableByAll) {
    TestTree tree;
    tree.WriteFile("list.txt", "old content that is longer\n");
    const std::string strContent("new\0bytes\n", 10);
    EXPECT_EQ(ReplaceFileWhole(tree.Path("list.txt"), strContent, false), 0);
    EXPECT_EQ(ReadFile(tree.Path("list.txt")), strContent);
    struct stat st {};
    ASSERT_EQ(::stat(tree.Path("list.txt").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0644u);
    // A new file, synced.
    EXPECT_EQ(ReplaceFileWhole(tree.Path("new.csv"), "", true), 0);
    EXPECT_EQ(ReadFile(tree.Path("new.csv")), "");
    EXPECT_EQ(Names(tree.Root()), (std::vector<std::string>{"list.txt", "new.csv"}));
}

TEST(FileReplacementTest, UncommittedOrFailedLeavesTheFileAndNoTemporaryFile) {
    TestTree tree;
    tree.WriteFile("list.txt", "kept\n");
    {
        FileReplacement replacement(tree.Path("list.txt"), "never put in place\n", true);
        EXPECT_TRUE(replacement.IsWritten());
        EXPECT_EQ(replacement.Error(), 0);
        EXPECT_EQ(Names(tree.Root()).size(), 2u); // the file and its replacement
    }
    EXPECT_EQ(ReadFile(tree.Path("list.txt")), "kept\n");
    EXPECT_EQ(Names(tree.Root()), std::vector<std::string>{"list.txt"});

    EXPECT_EQ(ReplaceFileWhole(tree.Path("no such folder/list.txt"), "x", false), ENOENT);
    // The place is a folder: written, but it cannot be put there.
    tree.MakeDir("folder");
    tree.WriteFile("folder/inside", "");
    FileReplacement replacement(tree.Path("folder"), "x", false);
    EXPECT_TRUE(replacement.IsWritten());
    EXPECT_FALSE(replacement.Commit());
    EXPECT_NE(replacement.Error(), 0);
}
