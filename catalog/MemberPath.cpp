// SPDX-License-Identifier: GPL-3.0-or-later

#include "catalog/MemberPath.h"

std::string JoinMemberPath(std::string_view archivePath, std::string_view memberPath) {
    std::string strPath;
    strPath.reserve(archivePath.size() + kMemberSeparator.size() + memberPath.size());
    strPath.append(archivePath).append(kMemberSeparator).append(memberPath);
    return strPath;
}

std::vector<std::string> SplitMemberPath(std::string_view path) {
    std::vector<std::string> parts;
    size_t nStart = 0;
    size_t nFrom = 1;
    for (;;) {
        const size_t nAt = path.find(kMemberSeparator, nFrom);
        if (nAt == std::string_view::npos)
            break;
        parts.emplace_back(path.substr(nStart, nAt - nStart));
        nStart = nAt + kMemberSeparator.size();
        nFrom = nStart;
    }
    parts.emplace_back(path.substr(nStart));
    return parts;
}
