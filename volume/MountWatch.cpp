// SPDX-License-Identifier: GPL-3.0-or-later

#include "volume/MountWatch.h"

#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

MountWatch::MountWatch() : m_fd(::open("/proc/self/mountinfo", O_RDONLY | O_CLOEXEC)) {
    Acknowledge();
}

MountWatch::~MountWatch() {
    if (m_fd >= 0)
        ::close(m_fd);
}

bool MountWatch::Wait(int nTimeoutMs) {
    if (m_fd < 0)
        return false;
    pollfd watched{m_fd, POLLPRI, 0};
    const int nReady = ::poll(&watched, 1, nTimeoutMs);
    return nReady > 0 && (watched.revents & (POLLPRI | POLLERR));
}

void MountWatch::Acknowledge() {
    if (m_fd < 0)
        return;
    // The event stays raised until the file is read again from its start.
    char buffer[4096];
    ::lseek(m_fd, 0, SEEK_SET);
    while (::read(m_fd, buffer, sizeof buffer) > 0) {
    }
}
