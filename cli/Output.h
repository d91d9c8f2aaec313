// SPDX-License-Identifier: GPL-3.0-or-later

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
    // A function that writes through this writer, for a RecordWriter.
    auto Sink() {
        return [this](std::string_view text) { Write(text); };
    }
    // Writes everything held back; raises OutputError when it cannot.
    void Flush();

private:
    std::string m_strBuffer;
};

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
