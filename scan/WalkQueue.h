// SPDX-License-Identifier: GPL-3.0-or-later

#pragma once

#include "scan/DirectoryReader.h"

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <exception>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

// One step of a walk as its thread hands it to the writer, in the order the
// walk took them. Directories are numbered in the order of their Directory
// steps, from 1; 0 is the directory the walk starts from.
struct WalkStep {
    enum class Kind : uint8_t {
        Directory, // a directory row; its text is its path
        Listing,   // the files of directory nDir follow; its text is its path
        State,     // directory nDir's own mode and time
        File,      // a file of the last Listing; its text is its name
    };
    // What the walk itself read of a file's checksum: it does only when no
    // descriptor of the directory could be kept for the hashing threads.
    enum class Digest : uint8_t { NotRead, Read, Unreadable };

    Kind kind = Kind::File;
    bool bIsRegular = false;         // File: as DirectoryEntry
    bool bOwned = false;             // File
    bool bPseudo = false;            // Listing: files the kernel makes up
    Digest digest = Digest::NotRead; // File: Read puts 32 digits after its name
    uint32_t nTextOffset = 0;
    uint32_t nTextSize = 0;
    uint64_t nDir = 0;               // Listing, State
    std::optional<int64_t> nSize;    // File
    std::optional<int64_t> nMtimeNs; // File; State
    std::optional<uint32_t> nMode;   // File; State
    std::shared_ptr<UniqueFd> dir;   // File: its directory, kept open for hashing it later
};

// Steps handed over together, with the texts they name.
struct WalkBatch {
    std::vector<WalkStep> steps;
    std::string text;

    std::string_view Text(const WalkStep& step) const {
        return std::string_view(text).substr(step.nTextOffset, step.nTextSize);
    }
    // The digits of a file whose digest the walk read.
    std::string_view Digest(const WalkStep& step) const {
        return std::string_view(text).substr(step.nTextOffset + step.nTextSize, 32);
    }
};

// Raised on the walk's thread once the writer has given up.
struct WalkAbandoned {};

// The bounded hand-over between the thread that walks a tree and the one
// that writes its rows: the walk fills a batch, the writer takes whole
// batches, and the walk waits while the writer is far behind. It also keeps
// count of the directory descriptors the steps hold for hashing, so a tree of
// many directories never runs the process out of descriptors.
class WalkQueue {
public:
    // At most nDescriptors directory descriptors are kept at once (at least one).
    explicit WalkQueue(size_t nDescriptors);
    WalkQueue(const WalkQueue&) = delete;
    WalkQueue& operator=(const WalkQueue&) = delete;

    // The walk's side. Adds a step whose text is text; the reference lasts
    // until the next call. Raises WalkAbandoned.
    WalkStep& Add(WalkStep::Kind kind, std::string_view text);
    // The step added last, and the 32 digits of a digest added to its text.
    WalkStep& LastStep() { return m_filling.steps.back(); }
    void AddDigest(std::string_view digits) { m_filling.text.append(digits); }
    // Hands over the steps added so far; waits while the writer is far
    // behind. Raises WalkAbandoned.
    void HandOver();
    // A descriptor of the open directory nDirFd that hashing threads may keep,
    // shared by its files; when none is to be had the walk closes the spare
    // descriptors fnRelieve can, and waits for the writer to give some back.
    // Null when there is none all the same. Raises WalkAbandoned.
    std::shared_ptr<UniqueFd> ShareDirectory(int nDirFd, const std::function<bool()>& fnRelieve);
    // The walk has ended: after a failure, pError says how.
    void End(std::exception_ptr pError);

    // The writer's side. Replaces batch with the next one; false once the
    // walk has ended and every step was taken. bWait: wait for the walk.
    bool Take(WalkBatch& batch, bool bWait);
    // True once the walk has ended and every step was taken.
    bool AtEnd();
    // How the walk failed; null when it did not.
    std::exception_ptr Error();
    // The writer gives up: the walk's next step raises WalkAbandoned.
    void Abandon();

private:
    void HandOverLocked(std::unique_lock<std::mutex>& lock);
    void ReleaseDescriptor();

    std::mutex m_mutex;
    std::condition_variable m_cvWalk;   // room for a batch, or a descriptor given back
    std::condition_variable m_cvWriter; // a batch, or the end
    WalkBatch m_filling;                // the walk's own
    std::chrono::steady_clock::time_point m_tHandedOver;
    std::deque<WalkBatch> m_full;
    std::vector<WalkBatch> m_spare;
    size_t m_nDescriptors;
    size_t m_nShared = 0;
    bool m_bEnded = false;
    bool m_bAbandoned = false;
    std::exception_ptr m_pError;
};
