// SPDX-License-Identifier: GPL-3.0-or-later

#include "TestTree.h"

#include "scan/Md5.h"

#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

void Check(bool bOk, const std::string& strWhat) {
    if (!bOk)
        throw std::runtime_error("test setup failed: " + strWhat);
}

} // namespace

TestTree::TestTree() {
    const char* pszTmp = std::getenv("TMPDIR");
    std::string strTemplate =
        std::string(pszTmp && *pszTmp ? pszTmp : "/tmp") + "/kestrel-test-XXXXXX";
    Check(::mkdtemp(strTemplate.data()) != nullptr, "mkdtemp");
    m_strRoot = strTemplate;
}

TestTree::~TestTree() {
    std::error_code ec;
    // Restore search permission first, so nothing below stays behind.
    for (auto it = std::filesystem::recursive_directory_iterator(
             m_strRoot, std::filesystem::directory_options::skip_permission_denied, ec);
         !ec && it != std::filesystem::recursive_directory_iterator(); it.increment(ec)) {
        if (it->is_directory(ec) && !it->is_symlink(ec))
            ::chmod(it->path().c_str(), 0755);
    }
    std::filesystem::remove_all(m_strRoot, ec);
    if (ec) // deeper than the longest path: rm takes it one step at a time
        std::system(("rm -rf '" + m_strRoot + "'").c_str());
}

std::string TestTree::MakeDeepFile(const std::string& strRelative, int nLevels,
                                   const std::string& strLevel, const std::string& strName,
                                   const std::string& strContent) const {
    std::string strDeepest = m_strRoot;
    if (!strRelative.empty()) {
        MakeDir(strRelative);
        strDeepest = Path(strRelative);
    }
    int fd = ::open(strDeepest.c_str(), O_RDONLY | O_DIRECTORY);
    Check(fd >= 0, "open " + strDeepest);
    for (int i = 0; i < nLevels; ++i) {
        Check(::mkdirat(fd, strLevel.c_str(), 0755) == 0, "mkdirat");
        const int child = ::openat(fd, strLevel.c_str(), O_RDONLY | O_DIRECTORY);
        ::close(fd);
        Check(child >= 0, "openat");
        fd = child;
        strDeepest += "/" + strLevel;
    }
    const int file = ::openat(fd, strName.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    ::close(fd);
    Check(file >= 0, "create " + strName);
    const ssize_t n = ::write(file, strContent.data(), strContent.size());
    ::close(file);
    Check(n == static_cast<ssize_t>(strContent.size()), "write " + strName);
    return strDeepest;
}

void TestTree::MakeDir(const std::string& strRelative) const {
    std::error_code ec;
    std::filesystem::create_directories(Path(strRelative), ec);
    Check(!ec, "mkdir " + strRelative);
}

void TestTree::WriteFile(const std::string& strRelative, const std::string& strContent) const {
    const int fd = ::open(Path(strRelative).c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    Check(fd >= 0, "create " + strRelative);
    const ssize_t n = ::write(fd, strContent.data(), strContent.size());
    ::close(fd);
    Check(n == static_cast<ssize_t>(strContent.size()), "write " + strRelative);
}

void TestTree::WriteSizedFile(const std::string& strRelative, uint64_t nSize) const {
    WriteFile(strRelative, PatternContent(nSize));
}

void TestTree::WriteSparseFile(const std::string& strRelative, uint64_t nSize) const {
    const int fd = ::open(Path(strRelative).c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    Check(fd >= 0, "create " + strRelative);
    const int rc = ::ftruncate(fd, static_cast<off_t>(nSize));
    ::close(fd);
    Check(rc == 0, "truncate " + strRelative);
}

void TestTree::MakeSymlink(const std::string& strTarget, const std::string& strRelative) const {
    Check(::symlink(strTarget.c_str(), Path(strRelative).c_str()) == 0, "symlink " + strRelative);
}

void TestTree::MakeFifo(const std::string& strRelative) const {
    Check(::mkfifo(Path(strRelative).c_str(), 0644) == 0, "mkfifo " + strRelative);
}

ScopedEnv::ScopedEnv(const char* pszName, const std::string& strValue) : m_strName(pszName) {
    const char* pszOld = std::getenv(pszName);
    m_bHadValue = pszOld != nullptr;
    if (pszOld)
        m_strOldValue = pszOld;
    ::setenv(pszName, strValue.c_str(), 1);
}

ScopedEnv::~ScopedEnv() {
    if (m_bHadValue)
        ::setenv(m_strName.c_str(), m_strOldValue.c_str(), 1);
    else
        ::unsetenv(m_strName.c_str());
}

std::string PatternContent(uint64_t nSize) {
    std::string strContent(nSize, '\0');
    for (uint64_t i = 0; i < nSize; ++i)
        strContent[i] = static_cast<char>('a' + (i * 7 + i / 251) % 26);
    return strContent;
}

std::string Md5OfText(const std::string& strText) {
    Md5Context context;
    context.Update(strText.data(), strText.size());
    return DigestToHex(context.Finish());
}

std::string Concat(std::initializer_list<std::string_view> texts) {
    std::string strAll;
    for (std::string_view text : texts)
        strAll += text;
    return strAll;
}

ScopedTmpfs::ScopedTmpfs(const std::string& strPath, const char* pszSize)
    : m_strPath(strPath), m_bMounted(::mount("tmpfs", strPath.c_str(), "tmpfs", 0,
                                             (std::string("size=") + pszSize).c_str()) == 0) {}

ScopedTmpfs::~ScopedTmpfs() {
    if (m_bMounted)
        ::umount2(m_strPath.c_str(), MNT_DETACH);
}

bool Exists(const std::string& strPath) {
    struct stat st {};
    return ::lstat(strPath.c_str(), &st) == 0;
}

std::string ReadFile(const std::string& strPath) {
    std::ifstream in(strPath, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

std::map<std::string, DiskTotals> WalkDisk(const std::string& strRoot) {
    std::map<std::string, DiskTotals> totals;
    totals[strRoot];
    for (const std::filesystem::directory_entry& entry :
         std::filesystem::recursive_directory_iterator(strRoot)) {
        struct stat st {};
        if (::lstat(entry.path().c_str(), &st) != 0)
            throw std::runtime_error("cannot lstat " + entry.path().string());
        const std::string strParent = entry.path().parent_path().string();
        if (S_ISDIR(st.st_mode)) {
            totals[entry.path().string()];
            totals[strParent].subdirectories.insert(entry.path().filename().string());
        } else {
            totals[strParent].files.insert(entry.path().filename().string());
        }
        // Every folder above it counts it.
        for (std::filesystem::path above = entry.path().parent_path();
             above.string().size() >= strRoot.size(); above = above.parent_path()) {
            DiskTotals& up = totals[above.string()];
            if (S_ISDIR(st.st_mode)) {
                ++up.nDirs;
            } else {
                ++up.nFiles;
                up.nBytes += static_cast<uint64_t>(st.st_size);
            }
            if (above.string() == strRoot)
                break;
        }
    }
    return totals;
}
