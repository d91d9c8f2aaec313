// SPDX-License-Identifier: GPL-3.0-or-later

#pragma once

#include <condition_variable>
#include <deque>
#include <exception>
#include <mutex>

// Items passed from a thread that makes them to one that takes them, in
// order. It holds a bounded weight: a maker with that much waiting waits.
// The maker ends it (with the error that stopped it, if one did); the taker
// may give it up, and the maker then stops.
template <typename T> class HandOver {
public:
    explicit HandOver(size_t nMaxWeight) : m_nMaxWeight(nMaxWeight) {}

    // False once the taker has given up: the item is dropped.
    bool Put(T&& item, size_t nWeight = 1) {
        std::unique_lock lock(m_mutex);
        m_cv.wait(lock, [&] { return m_bGivenUp || m_nWeight < m_nMaxWeight; });
        if (m_bGivenUp)
            return false;
        m_nWeight += nWeight;
        m_items.push_back({std::move(item), nWeight});
        m_cv.notify_all();
        return true;
    }
    void End(std::exception_ptr error = nullptr) {
        std::lock_guard lock(m_mutex);
        m_error = error;
        m_bEnded = true;
        m_cv.notify_all();
    }
    // The next item, waiting for it; false at the end, when the error that
    // ended it is raised, if there was one.
    bool Take(T& item) {
        std::unique_lock lock(m_mutex);
        m_cv.wait(lock, [&] { return !m_items.empty() || m_bEnded; });
        if (m_items.empty()) {
            if (m_error)
                std::rethrow_exception(m_error);
            return false;
        }
        item = std::move(m_items.front().item);
        m_nWeight -= m_items.front().nWeight;
        m_items.pop_front();
        m_cv.notify_all();
        return true;
    }
    void GiveUp() {
        std::lock_guard lock(m_mutex);
        m_bGivenUp = true;
        m_items.clear();
        m_nWeight = 0;
        m_cv.notify_all();
    }

private:
    struct Weighed {
        T item;
        size_t nWeight;
    };
    const size_t m_nMaxWeight;
    std::mutex m_mutex;
    std::condition_variable m_cv;
    std::deque<Weighed> m_items;
    size_t m_nWeight = 0;
    bool m_bEnded = false;
    bool m_bGivenUp = false;
    std::exception_ptr m_error;
};
