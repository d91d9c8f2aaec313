// SPDX-License-Identifier: GPL-3.0-or-later

#pragma once

#include <cstdint>
#include <initializer_list>
#include <map>
#include <set>
#include <string>
#include <string_view>
#include <vector>

// A temporary folder for one test, removed with everything below it when the
// object goes. Paths given to the helpers are relative to it.
class TestTree {
public:
    TestTree();
    ~TestTree();
    TestTree(const TestTree&) = delete;
    TestTree& operator=(const TestTree&) = delete;

    const std::string& Root() const { return m_strRoot; }
    std::string Path(const std::string& strRelative) const { return m_strRoot + "/" + strRelative; }

    void MakeDir(const std::string& strRelative) const;
    void WriteFile(const std::string& strRelative, const std::string& strContent) const;
    // A file of nSize bytes of a repeating pattern.
    void WriteSizedFile(const std::string& strRelative, uint64_t nSize) const;
    // A file of nSize bytes that takes (almost) no disk space.
    void WriteSparseFile(const std::string& strRelative, uint64_t nSize) const;
    void MakeSymlink(const std::string& strTarget, const std::string& strRelative) const;
    // nLevels directories named strLevel one inside the other below
    // strRelative ("": the root), and a file strName holding strContent at the bottom, built
    // one step at a time, so the whole may be longer than any path the system
    // takes in one piece. Returns the bottom directory's path.
    std::string MakeDeepFile(const std::string& strRelative, int nLevels,
                             const std::string& strLevel, const std::string& strName,
                             const std::string& strContent) const;
    void MakeFifo(const std::string& strRelative) const;

private:
    std::string m_strRoot;
};

// Sets an environment variable for the life of the object, then restores it.
class ScopedEnv {
public:
    ScopedEnv(const char* pszName, const std::string& strValue);
    ~ScopedEnv();

private:
    std::string m_strName;
    bool m_bHadValue;
    std::string m_strOldValue;
};

// A tmpfs of strSize ("64k") mounted on an existing folder for the life of
// the object, where the tests may mount (as root); Mounted() says whether.
class ScopedTmpfs {
public:
    ScopedTmpfs(const std::string& strPath, const char* pszSize);
    ~ScopedTmpfs();
    ScopedTmpfs(const ScopedTmpfs&) = delete;
    ScopedTmpfs& operator=(const ScopedTmpfs&) = delete;
    bool Mounted() const { return m_bMounted; }

private:
    std::string m_strPath;
    bool m_bMounted;
};

// What the file system says of a folder: the lstat sizes of the
// non-directories below it, their number, the folders below it, and the
// names of its own entries.
struct DiskTotals {
    uint64_t nBytes = 0, nFiles = 0, nDirs = 0;
    std::set<std::string> subdirectories, files;
};
// Of strRoot and every folder below it, by path.
std::map<std::string, DiskTotals> WalkDisk(const std::string& strRoot);

// Whether anything (file, folder, link) stands at strPath.
bool Exists(const std::string& strPath);

// A file's whole content; empty when it cannot be read.
std::string ReadFile(const std::string& strPath);

// The content WriteSizedFile writes: nSize bytes of a repeating pattern.
std::string PatternContent(uint64_t nSize);

// The MD5 of a text, as the hexadecimal digest.
std::string Md5OfText(const std::string& strText);

// The texts one after the other. Built by appending only: g++ 12 at -O3 takes
// a literal put in front of a temporary string ("c" + std::to_string(n)) for
// an overlapping copy and warns (-Wrestrict).
std::string Concat(std::initializer_list<std::string_view> texts);
