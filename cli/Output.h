#pragma once

#include <chrono>
#include <stdexcept>
#include <string>
#include <string_view>

// A write to standard output failed (a full disk, a closed file): the
// command stops and says so. A closed pipe ends the program quietly instead,
// through SIGPIPE.
class OutputError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// Standard output in large pieces, every write checked: a search may print
// millions of lines, and a result that did not arrive must not count as
// success. Raises OutputError.
class OutputWriter {
public:
    OutputWriter();
    ~OutputWriter();
    OutputWriter(const OutputWriter&) = delete;
    OutputWriter& operator=(const OutputWriter&) = delete;

    void Write(std::string_view text);
    // Writes everything held back; raises OutputError when it cannot.
    void Flush();

private:
    std::string m_strBuffer;
};

// Appends one field of a tab-separated line: tab, line feed, carriage return
// and backslash are written as \t, \n, \r and \\, so a line stays one record
// whatever a name holds.
void AppendTsvField(std::string& strLine, std::string_view field);

// A line of live counts on standard error, redrawn at most five times a
// second, and only when standard error is a terminal.
class ProgressLine {
public:
    ProgressLine();
    // True when it is time to redraw; then Show the new text.
    bool IsDue();
    void Show(const std::string& strText);
    // Removes the line.
    void Clear();

private:
    bool m_bLive;
    bool m_bShown = false;
    std::chrono::steady_clock::time_point m_tShown;
};
