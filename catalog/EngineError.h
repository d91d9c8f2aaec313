// SPDX-License-Identifier: GPL-3.0-or-later

#pragma once

#include <stdexcept>
#include <string>
#include <utility>

// The one exception the catalog store raises: a failure of the database engine
// (or of creating a catalog file), carrying the engine's own message text.
class EngineError : public std::runtime_error {
public:
    explicit EngineError(const std::string& strMessage, int nCode = 0, std::string strCatalog = {})
        : std::runtime_error(strMessage), m_nCode(nCode), m_strCatalog(std::move(strCatalog)) {}

    // The engine's result code (an SQLite primary or extended code), 0 when
    // the failure did not come from the engine itself.
    int Code() const { return m_nCode; }

    // The file of the connection that failed; empty when not known.
    const std::string& Catalog() const { return m_strCatalog; }

    // The message for a person: the engine's text after the catalog's path,
    // unless the text names that path already or no path is known.
    std::string Describe() const {
        const std::string strText = what();
        if (m_strCatalog.empty() || strText.find(m_strCatalog) != std::string::npos)
            return strText;
        return m_strCatalog + ": " + strText;
    }

private:
    int m_nCode;
    std::string m_strCatalog;
};
