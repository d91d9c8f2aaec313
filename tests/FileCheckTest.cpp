// SPDX-License-Identifier: GPL-3.0-or-later

#include "search/FileCheck.h"
#include "TestTree.h"

#include <cctype>
#include <gtest/gtest.h>
#include <unistd.h>

TEST(CheckFile, TheAnswersOfAFileCheck) {
    TestTree tree;
    tree.WriteFile("file", "content");
    tree.MakeDir("dir");
    tree.MakeFifo("fifo");
    // Links are looked at, not followed: one of the file's own size to it is not read.
    ASSERT_EQ(::symlink("abcdefg", tree.Path("link").c_str()), 0);
    ASSERT_EQ(::symlink("file", tree.Path("abcdefg").c_str()), 0);
    const std::string strDigest = Md5OfText("content");
    std::string strUpper = strDigest;
    for (char& c : strUpper)
        c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    const std::string strOther = Md5OfText("other");
    const struct {
        std::string strPath;
        std::string strStored;
        std::optional<int64_t> nSize;
        FileCheckResult expected;
    } kCases[] = {
        {tree.Path("file"), strDigest, 7, FileCheckResult::Unchanged},
        {tree.Path("file"), " \t" + strUpper + "  \r\n", std::nullopt, FileCheckResult::Unchanged},
        {tree.Path("file"), strOther, 7, FileCheckResult::Changed},
        {tree.Path("file"), strDigest, 8, FileCheckResult::Changed}, // size alone tells
        {tree.Path("file"), "", 7, FileCheckResult::NoChecksum},
        {tree.Path("file"), "   ", 7, FileCheckResult::NoChecksum},
        {tree.Path("missing"), "", 7, FileCheckResult::NotFound},
        {tree.Path("missing"), strDigest, 7, FileCheckResult::NotFound},
        {tree.Path("dir"), strDigest, std::nullopt, FileCheckResult::NotFound},
        {tree.Path("fifo"), strDigest, std::nullopt, FileCheckResult::Unreadable},
        {tree.Path("link"), strDigest, 7, FileCheckResult::Unreadable},
        {tree.Path("link"), strDigest, 8, FileCheckResult::Changed},
        {tree.Path("link"), "", 8, FileCheckResult::NoChecksum},
        {tree.Path("dir") + "/../file", strDigest, 7, FileCheckResult::Unchanged},
    };
    for (const auto& c : kCases)
        EXPECT_EQ(CheckFile(c.strPath, c.strStored, c.nSize), c.expected)
            << c.strPath << " '" << c.strStored << "'";
}
