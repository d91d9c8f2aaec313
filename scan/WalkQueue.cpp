// SPDX-License-Identifier: GPL-3.0-or-later

#include "scan/WalkQueue.h"

#include <algorithm>
#include <cerrno>
#include <fcntl.h>

namespace {

// Steps per batch, and batches waiting at most: the walk may run about
// 64 000 entries ahead of the writer, which lets it keep going while the
// writer waits for a checksum or a commit, in a few megabytes.
constexpr size_t kStepsPerBatch = 1024;
constexpr size_t kMaxBatches = 64;
// A walk that meets few entries (a slow disk) still hands over what it has
// this often, so the catalog being built grows and its counts move.
constexpr auto kHandOverEvery = std::chrono::milliseconds(50);

} // namespace

WalkQueue::WalkQueue(size_t nDescriptors)
    : m_tHandedOver(std::chrono::steady_clock::now()),
      m_nDescriptors(std::max<size_t>(1, nDescriptors)) {}

WalkStep& WalkQueue::Add(WalkStep::Kind kind, std::string_view text) {
    if (m_filling.steps.size() >= kStepsPerBatch ||
        (m_filling.steps.size() % 64 == 63 &&
         std::chrono::steady_clock::now() - m_tHandedOver > kHandOverEvery))
        HandOver();
    WalkStep& step = m_filling.steps.emplace_back();
    step.kind = kind;
    step.nTextOffset = static_cast<uint32_t>(m_filling.text.size());
    step.nTextSize = static_cast<uint32_t>(text.size());
    m_filling.text.append(text);
    return step;
}

void WalkQueue::HandOver() {
    std::unique_lock lock(m_mutex);
    HandOverLocked(lock);
}

void WalkQueue::HandOverLocked(std::unique_lock<std::mutex>& lock) {
    m_cvWalk.wait(lock, [&] { return m_bAbandoned || m_full.size() < kMaxBatches; });
    if (m_bAbandoned)
        throw WalkAbandoned();
    m_tHandedOver = std::chrono::steady_clock::now();
    if (m_filling.steps.empty())
        return;
    m_full.push_back(std::move(m_filling));
    if (m_spare.empty()) {
        m_filling = WalkBatch();
    } else {
        m_filling = std::move(m_spare.back());
        m_spare.pop_back();
    }
    m_cvWriter.notify_one();
}

std::shared_ptr<UniqueFd> WalkQueue::ShareDirectory(int nDirFd,
                                                    const std::function<bool()>& fnRelieve) {
    std::unique_lock lock(m_mutex);
    for (bool bRelieved = false;;) {
        if (m_nShared >= m_nDescriptors) {
            // The writer gives them back once it has stored the files holding
            // them: it must have them first.
            HandOverLocked(lock);
            m_cvWalk.wait(lock, [&] { return m_bAbandoned || m_nShared < m_nDescriptors; });
            if (m_bAbandoned)
                throw WalkAbandoned();
        }
        UniqueFd fd(::fcntl(nDirFd, F_DUPFD_CLOEXEC, 0));
        if (fd.IsValid()) {
            ++m_nShared;
            return std::shared_ptr<UniqueFd>(new UniqueFd(std::move(fd)), [this](UniqueFd* p) {
                delete p;
                ReleaseDescriptor();
            });
        }
        if (!IsResourceShortage(errno) || errno == ENOMEM)
            return nullptr;
        if (m_nShared > 0) {
            // Fewer are to be had than counted on: wait for one back.
            m_nDescriptors = m_nShared;
            continue;
        }
        if (bRelieved)
            return nullptr;
        lock.unlock();
        bRelieved = true;
        const bool bAny = fnRelieve();
        lock.lock();
        if (!bAny)
            return nullptr;
    }
}

void WalkQueue::ReleaseDescriptor() {
    {
        std::lock_guard lock(m_mutex);
        --m_nShared;
    }
    m_cvWalk.notify_one();
}

void WalkQueue::End(std::exception_ptr pError) {
    std::unique_lock lock(m_mutex);
    if (!m_filling.steps.empty() && !m_bAbandoned) {
        m_full.push_back(std::move(m_filling));
        m_filling = WalkBatch();
    }
    m_bEnded = true;
    m_pError = std::move(pError);
    m_cvWriter.notify_one();
}

bool WalkQueue::Take(WalkBatch& batch, bool bWait) {
    // The steps taken before are dropped here, not under the lock: the
    // descriptors they hold give themselves back through it.
    batch.steps.clear();
    batch.text.clear();
    std::unique_lock lock(m_mutex);
    if (bWait)
        m_cvWriter.wait(lock, [&] { return m_bEnded || !m_full.empty(); });
    if (m_full.empty())
        return false;
    if (m_spare.size() < 2)
        m_spare.push_back(std::move(batch));
    batch = std::move(m_full.front());
    m_full.pop_front();
    m_cvWalk.notify_one();
    return true;
}

bool WalkQueue::AtEnd() {
    std::lock_guard lock(m_mutex);
    return m_bEnded && m_full.empty();
}

std::exception_ptr WalkQueue::Error() {
    std::lock_guard lock(m_mutex);
    return m_pError;
}

void WalkQueue::Abandon() {
    std::deque<WalkBatch> dropped; // dropped unlocked, as in Take
    {
        std::lock_guard lock(m_mutex);
        m_bAbandoned = true;
        dropped.swap(m_full);
    }
    m_cvWalk.notify_all();
}
