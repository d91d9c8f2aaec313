// SPDX-License-Identifier: GPL-3.0-or-later

#include "search/FileReplacement.h"

#include <cerrno>
#include <cstdlib>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// 0, or the errno of the failure (EIO when nothing more could be written).
int WriteAll(int fd, std::string_view content) {
    size_t nDone = 0;
    while (nDone < content.size()) {
        const ssize_t n = ::write(fd, content.data() + nDone, content.size() - nDone);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return n < 0 ? errno : EIO;
        nDone += static_cast<size_t>(n);
    }
    return 0;
}

} // namespace

FileReplacement::FileReplacement(const std::string& strPath, std::string_view content, bool bSync)
    : m_strPath(strPath), m_strTemp(strPath + ".XXXXXX") {
    const int fd = ::mkstemp(m_strTemp.data());
    if (fd < 0) {
        m_nError = errno;
        m_strTemp.clear();
        return;
    }
    // mkstemp makes the file readable by its owner only.
    m_nError = WriteAll(fd, content);
    if (m_nError == 0 && ::fchmod(fd, 0644) != 0)
        m_nError = errno;
    if (m_nError == 0 && bSync && ::fsync(fd) != 0)
        m_nError = errno;
    if (::close(fd) != 0 && m_nError == 0)
        m_nError = errno;
    m_bWritten = m_nError == 0;
}

FileReplacement::~FileReplacement() {
    if (!m_strTemp.empty())
        ::unlink(m_strTemp.c_str());
}

bool FileReplacement::Commit() {
    if (!m_bWritten)
        return false;
    if (::rename(m_strTemp.c_str(), m_strPath.c_str()) != 0) {
        m_nError = errno;
        return false;
    }
    m_strTemp.clear();
    return true;
}

int ReplaceFileWhole(const std::string& strPath, std::string_view content, bool bSync) {
    FileReplacement replacement(strPath, content, bSync);
    replacement.Commit();
    return replacement.Error();
}
