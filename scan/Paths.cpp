#include "scan/Paths.h"

std::string CollapseSeparatorPairs(std::string_view path) {
    std::string strCollapsed;
    strCollapsed.reserve(path.size());
    for (size_t i = 0; i < path.size(); ++i) {
        strCollapsed += path[i];
        if (path[i] == '/' && i + 1 < path.size() && path[i + 1] == '/')
            ++i;
    }
    return strCollapsed;
}

std::string JoinPath(std::string_view parent, std::string_view name) {
    std::string strJoined;
    strJoined.reserve(parent.size() + 1 + name.size());
    strJoined.append(parent);
    strJoined += '/';
    strJoined.append(name);
    if (strJoined.find("//") == std::string::npos)
        return strJoined;
    return CollapseSeparatorPairs(strJoined);
}
