// SPDX-License-Identifier: GPL-3.0-or-later

#pragma once

// Tells when the mount table changes: the kernel marks /proc/self/mountinfo
// readable-with-priority (POLLPRI) at every mount and unmount.
class MountWatch {
public:
    MountWatch();
    ~MountWatch();
    MountWatch(const MountWatch&) = delete;
    MountWatch& operator=(const MountWatch&) = delete;

    // The descriptor to poll for POLLPRI (or to give a socket notifier of
    // the exception kind); -1 when the table could not be opened.
    int Fd() const { return m_fd; }
    // Waits up to nTimeoutMs (-1: without end) for a change; true when one
    // came. Returns early, false, when a signal interrupts the wait.
    bool Wait(int nTimeoutMs);
    // Takes note that the change was seen, so the next Wait waits for a new one.
    void Acknowledge();

private:
    int m_fd = -1;
};
