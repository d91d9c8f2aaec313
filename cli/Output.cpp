// SPDX-License-Identifier: GPL-3.0-or-later

#include "cli/Output.h"

#include "cli/JobRunner.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <poll.h>
#include <unistd.h>

constexpr size_t kBufferSize = 1 << 16;

OutputWriter::OutputWriter() {
    m_strBuffer.reserve(kBufferSize);
}

OutputWriter::~OutputWriter() {
    // An unflushed rest is written on the way out, but a failure can only be
    // told by Flush: commands call it before they report success.
    try {
        Flush();
    } catch (const OutputError&) {
    }
}

void OutputWriter::Write(std::string_view text) {
    m_strBuffer.append(text);
    if (m_strBuffer.size() >= kBufferSize)
        Flush();
}

void OutputWriter::Flush() {
    size_t nDone = 0;
    while (nDone < m_strBuffer.size()) {
        // A reader that does not read (a full pipe) is waited for only until
        // a stop signal, where the program catches them (watch): a write
        // would block it out.
        pollfd ready{STDOUT_FILENO, POLLOUT, 0};
        if (::poll(&ready, 1, 0) == 0 && !PollUnlessStopped(STDOUT_FILENO, POLLOUT) &&
            StopSignal() != 0) {
            m_strBuffer.clear();
            throw OutputError("cannot write the output: " + StoppedByText(StopSignal()) +
                              " while its reader was not reading");
        }
        const ssize_t n =
            ::write(STDOUT_FILENO, m_strBuffer.data() + nDone, m_strBuffer.size() - nDone);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            const int nErr = n < 0 ? errno : EIO;
            m_strBuffer.clear();
            throw OutputError(std::string("cannot write the output: ") + std::strerror(nErr));
        }
        nDone += static_cast<size_t>(n);
    }
    m_strBuffer.clear();
}

ProgressLine::ProgressLine() : m_bLive(::isatty(STDERR_FILENO) != 0) {}

bool ProgressLine::IsDue() {
    if (!m_bLive)
        return false;
    const auto tNow = std::chrono::steady_clock::now();
    if (m_bShown && tNow - m_tShown < std::chrono::milliseconds(200))
        return false;
    m_tShown = tNow;
    return true;
}

void ProgressLine::Show(const std::string& strText) {
    if (!m_bLive)
        return;
    std::fprintf(stderr, "\r%s\x1b[K", strText.c_str());
    std::fflush(stderr);
    m_bShown = true;
}

void ProgressLine::Clear() {
    if (m_bShown)
        std::fprintf(stderr, "\r\x1b[K");
    m_bShown = false;
}
