// SPDX-License-Identifier: GPL-3.0-or-later

#include "browse/EntryMode.h"

#include <sys/stat.h>

const char* EntryKind(std::optional<uint32_t> nMode, bool bDirectory) {
    if (!nMode)
        return bDirectory ? "directory" : "file";
    switch (*nMode & S_IFMT) {
    case S_IFDIR:
        return "directory";
    case S_IFLNK:
        return "link";
    case S_IFIFO:
        return "fifo";
    case S_IFSOCK:
        return "socket";
    case S_IFCHR:
        return "char-device";
    case S_IFBLK:
        return "block-device";
    default:
        return "file";
    }
}

std::string ModeText(std::optional<uint32_t> nMode) {
    if (!nMode)
        return {};
    const uint32_t n = *nMode;
    char cType = '-';
    switch (n & S_IFMT) {
    case S_IFDIR:
        cType = 'd';
        break;
    case S_IFLNK:
        cType = 'l';
        break;
    case S_IFIFO:
        cType = 'p';
        break;
    case S_IFSOCK:
        cType = 's';
        break;
    case S_IFCHR:
        cType = 'c';
        break;
    case S_IFBLK:
        cType = 'b';
        break;
    default:
        break;
    }
    std::string strText(1, cType);
    // Each of owner, group, others; the set-id and sticky bits show in the
    // place of x, lower case when x is set too.
    const struct {
        uint32_t nShift;
        uint32_t nSpecial;
        char cSpecial;
    } kClasses[] = {{6, S_ISUID, 's'}, {3, S_ISGID, 's'}, {0, S_ISVTX, 't'}};
    for (const auto& cls : kClasses) {
        strText += (n >> cls.nShift) & 4 ? 'r' : '-';
        strText += (n >> cls.nShift) & 2 ? 'w' : '-';
        const bool bExec = (n >> cls.nShift) & 1;
        if (n & cls.nSpecial)
            strText += bExec ? cls.cSpecial : static_cast<char>(cls.cSpecial - 'a' + 'A');
        else
            strText += bExec ? 'x' : '-';
    }
    return strText;
}
