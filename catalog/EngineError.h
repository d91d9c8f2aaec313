#pragma once

#include <stdexcept>
#include <string>

// The one exception the catalog store raises: a failure of the database engine
// (or of creating a catalog file), carrying the engine's own message text.
class EngineError : public std::runtime_error {
public:
    explicit EngineError(const std::string& strMessage, int nCode = 0)
        : std::runtime_error(strMessage), m_nCode(nCode) {}

    // The engine's result code (an SQLite primary or extended code), 0 when
    // the failure did not come from the engine itself.
    int Code() const { return m_nCode; }

private:
    int m_nCode;
};
