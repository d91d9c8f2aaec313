// SPDX-License-Identifier: GPL-3.0-or-later

#include "catalog/PathBelowFunction.h"

#include "catalog/Database.h"
#include "catalog/EngineError.h"
#include "scan/Paths.h"

#include <new>
#include <sqlite3.h>
#include <string>
#include <string_view>

namespace {

std::string_view ValueBytes(sqlite3_value* pValue) {
    const auto* pText = reinterpret_cast<const char*>(sqlite3_value_text(pValue));
    return pText ? std::string_view(pText, static_cast<size_t>(sqlite3_value_bytes(pValue)))
                 : std::string_view();
}

void PathBelowFunction(sqlite3_context* pContext, int nArgs, sqlite3_value** ppArgs) {
    try {
        // The start stays the same for the whole statement: it is made
        // normal once and kept with the argument.
        auto* pStart = static_cast<std::string*>(sqlite3_get_auxdata(pContext, 0));
        if (!pStart) {
            pStart = new std::string(NormalPath(ValueBytes(ppArgs[0])));
            sqlite3_set_auxdata(pContext, 0, pStart,
                                [](void* p) { delete static_cast<std::string*>(p); });
            pStart = static_cast<std::string*>(sqlite3_get_auxdata(pContext, 0));
            if (!pStart) {
                sqlite3_result_error_nomem(pContext);
                return;
            }
        }
        // Most stored paths are in the normal form already: they are used as they are.
        const std::string_view stored = ValueBytes(ppArgs[1]);
        std::string strNormal;
        std::string_view dir = stored;
        if (stored.find("//") != std::string_view::npos ||
            (stored.size() > 1 && stored.back() == '/')) {
            strNormal = NormalPath(stored);
            dir = strNormal;
        }
        thread_local std::string strPath;
        strPath.assign(PathBelow(dir, *pStart));
        if (nArgs == 2) {
            if (strPath.empty() && dir == *pStart)
                return; // NULL: the start directory is no difference of its own
            strPath += '/';
        } else {
            if (!strPath.empty() && strPath.back() != '/')
                strPath += '/';
            strPath.append(ValueBytes(ppArgs[2]));
        }
        sqlite3_result_text64(pContext, strPath.data(), strPath.size(), SQLITE_TRANSIENT,
                              SQLITE_UTF8);
    } catch (const std::bad_alloc&) {
        sqlite3_result_error_nomem(pContext);
    }
}

} // namespace

void RegisterPathBelowFunction(Database& database) {
    for (const int nArgs : {2, 3}) {
        const int rc =
            sqlite3_create_function_v2(database.Handle(), "path_below", nArgs,
                                       SQLITE_UTF8 | SQLITE_DETERMINISTIC | SQLITE_INNOCUOUS,
                                       nullptr, PathBelowFunction, nullptr, nullptr, nullptr);
        if (rc != SQLITE_OK)
            throw EngineError(sqlite3_errmsg(database.Handle()), rc);
    }
}
