// SPDX-License-Identifier: GPL-3.0-or-later

#include "scan/TreeWalk.h"

#include "scan/ArchiveReader.h"
#include "scan/FileChecksum.h"
#include "scan/Paths.h"
#include "scan/ScanJob.h"
#include "scan/WalkQueue.h"

#include <algorithm>
#include <cerrno>
#include <fcntl.h>
#include <functional>
#include <memory>
#include <optional>
#include <sys/stat.h>

TreeWalk::TreeWalk(WalkQueue& queue, ScanJob& job, const std::string& strStartPath,
                   size_t nMaxOpenLevels)
    : m_queue(queue), m_job(job), m_strStartPath(strStartPath),
      m_strOpenPath(!job.strWalkDir.empty() && strStartPath == job.strStartDir ? job.strWalkDir
                                                                               : strStartPath),
      m_excludes(job.excludes), m_nMaxChecksumBytes(ChecksumByteLimit(job)),
      m_nMaxOpenLevels(std::max<size_t>(2, nMaxOpenLevels)) {}

void TreeWalk::Run() {
    constexpr uint64_t nStartId = 0;
    Level root;
    root.strPath = m_strStartPath;
    root.fd = OpenRelieving(0, [&] { return DirectoryReader::OpenStart(m_strOpenPath); });
    if (!root.fd.IsValid()) {
        ++m_job.outcome.nUnreadDirs;
        m_job.outcome.bStartUnread = true;
        return;
    }
    struct stat st {};
    if (::fstat(root.fd.Get(), &st) == 0) {
        m_nStartDevice = st.st_dev;
        RecordState(nStartId, st);
    }
    m_levels.push_back(std::move(root));
    ListDirectory(0, nStartId);
    while (!m_levels.empty() && !Stopped()) {
        const size_t nTop = m_levels.size() - 1;
        Level& top = m_levels[nTop];
        if (top.nNext == top.subdirectories.size()) {
            m_levels.pop_back();
            continue;
        }
        const Level::Subdirectory sub = top.subdirectories[top.nNext++];
        Level child;
        child.strName = top.strNames.substr(sub.nNameOffset, sub.nNameLength);
        const int nParentFd = LevelFd(nTop);
        if (nParentFd >= 0)
            child.fd = OpenRelieving(
                nTop, [&] { return DirectoryReader::OpenChild(nParentFd, child.strName.c_str()); });
        if (!child.fd.IsValid()) {
            ++m_job.outcome.nUnreadDirs; // its row stays, with no files and no children
            // What it is can often be told all the same: a folder without
            // permission to read.
            if (nParentFd >= 0 &&
                ::fstatat(nParentFd, child.strName.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0)
                RecordState(sub.nDir, st);
            continue;
        }
        // One stat of a descriptor open already: the listing told the
        // directory's type, not its mode and time.
        if (::fstat(child.fd.Get(), &st) == 0)
            RecordState(sub.nDir, st);
        child.strPath = JoinPath(top.strPath, child.strName);
        m_levels.push_back(std::move(child));
        // The levels far above give theirs back; they are opened again by
        // name when the walk comes back to them.
        if (m_levels.size() > m_nMaxOpenLevels)
            ReleaseDescriptors(m_levels.size() - m_nMaxOpenLevels);
        ListDirectory(nTop + 1, sub.nDir);
    }
}

void TreeWalk::RecordState(uint64_t nDir, const struct stat& st) {
    WalkStep& step = m_queue.Add(WalkStep::Kind::State, {});
    step.nDir = nDir;
    step.nMode = static_cast<uint32_t>(st.st_mode);
    step.nMtimeNs = static_cast<int64_t>(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec;
}

// True for a subdirectory on another file system than the start's (whose
// mode and time are recorded then, as it is not entered).
bool TreeWalk::IsOtherFileSystem(int nDirFd, const char* pszName, uint64_t nDir) {
    struct stat st {};
    if (::fstatat(nDirFd, pszName, &st, AT_SYMLINK_NOFOLLOW) != 0 || st.st_dev == m_nStartDevice)
        return false;
    RecordState(nDir, st);
    return true;
}

bool TreeWalk::Stopped() {
    if (m_job.bStopRequested.load(std::memory_order_relaxed))
        m_job.outcome.bStopped = true;
    return m_job.outcome.bStopped;
}

// Closes the descriptors of the levels above nKeep (they can be opened
// again); false when there was none to close.
bool TreeWalk::ReleaseDescriptors(size_t nKeep) {
    bool bReleased = false;
    for (size_t i = 0; i < nKeep && i < m_levels.size(); ++i) {
        if (m_levels[i].fd.IsValid()) {
            m_levels[i].fd.Reset();
            bReleased = true;
        }
    }
    return bReleased;
}

// Runs fnOpen, and again after closing spare descriptors while the system
// has none left. An invalid result (errno says why) is the directory's
// own state; running out of memory, or of descriptors with none to spare,
// ends the walk.
template <typename Open> UniqueFd TreeWalk::OpenRelieving(size_t nKeep, Open fnOpen) {
    for (;;) {
        UniqueFd fd = fnOpen();
        if (fd.IsValid())
            return fd;
        const int nErr = errno;
        if (!IsResourceShortage(nErr)) {
            errno = nErr;
            return fd;
        }
        if (nErr == ENOMEM || !ReleaseDescriptors(nKeep))
            ThrowShortage(nErr);
    }
}

// The descriptor of level i, opened again from the nearest open level
// above it when it was closed; -1 when the directory cannot be reached
// any more (removed or replaced since it was listed).
int TreeWalk::LevelFd(size_t i) {
    if (m_levels[i].fd.IsValid())
        return m_levels[i].fd.Get();
    size_t nFirst = i;
    while (nFirst > 0 && !m_levels[nFirst - 1].fd.IsValid())
        --nFirst;
    for (size_t k = nFirst; k <= i; ++k) {
        if (k == 0) {
            m_levels[0].fd =
                OpenRelieving(0, [&] { return DirectoryReader::OpenStart(m_strOpenPath); });
        } else {
            const int nParentFd = m_levels[k - 1].fd.Get();
            const char* pszName = m_levels[k].strName.c_str();
            m_levels[k].fd = OpenRelieving(
                k - 1, [&] { return DirectoryReader::OpenChild(nParentFd, pszName); });
        }
        if (!m_levels[k].fd.IsValid())
            return -1;
    }
    return m_levels[i].fd.Get();
}

// Hands over the rows of level i's entries; its subdirectories are kept in
// the level for walking later.
void TreeWalk::ListDirectory(size_t i, uint64_t nDir) {
    Level& level = m_levels[i];
    const int nDirFd = level.fd.Get();
    const std::function<bool()> fnRelieve = [this, i] { return ReleaseDescriptors(i); };
    std::optional<DirectoryReader> reader;
    for (;;) {
        reader.emplace(nDirFd);
        if (reader->IsOpen() || !IsResourceShortage(reader->Error()))
            break;
        if (reader->Error() == ENOMEM || !fnRelieve())
            ThrowShortage(reader->Error());
    }
    const bool bPseudo = m_job.bChecksum && DirectoryReader::IsOnPseudoFileSystem(nDirFd);
    bool bListed = false;
    // The directory's descriptor for the hashing threads, made when its
    // first file needs one and kept by its files until they are hashed.
    std::shared_ptr<UniqueFd> sharedDir;
    bool bShareTried = false;
    DirectoryEntry entry;
    while (!Stopped() && reader->Next(entry)) {
        if (m_excludes.Excludes(entry.name, level.strPath))
            continue;
        if (entry.bIsDirectory) {
            const uint64_t nChild = ++m_nDirectories;
            m_queue.Add(WalkStep::Kind::Directory, JoinPath(level.strPath, entry.name));
            if (m_job.bOneFileSystem && IsOtherFileSystem(nDirFd, entry.pszName, nChild))
                continue; // stored, not entered
            level.subdirectories.push_back({level.strNames.size(), entry.name.size(), nChild});
            level.strNames.append(entry.name);
            continue;
        }
        if (!bListed) {
            WalkStep& listing = m_queue.Add(WalkStep::Kind::Listing, level.strPath);
            listing.nDir = nDir;
            listing.bPseudo = bPseudo;
            bListed = true;
        }
        const bool bHash = !bPseudo && ChecksumWanted(m_job, entry.bIsRegular, entry.nSize);
        // An archive's members are read by the writer, through the directory.
        const bool bArchive =
            m_job.bArchives && !bPseudo && entry.bIsRegular && IsArchiveName(entry.name);
        if ((bHash || bArchive) && !bShareTried) {
            sharedDir = m_queue.ShareDirectory(nDirFd, fnRelieve);
            bShareTried = true;
        }
        WalkStep& step = m_queue.Add(WalkStep::Kind::File, entry.name);
        step.bIsRegular = entry.bIsRegular;
        step.bOwned = entry.bOwned;
        step.nSize = entry.nSize;
        step.nMtimeNs = entry.nMtimeNs;
        step.nMode = entry.nMode;
        if ((bHash || bArchive) && sharedDir)
            step.dir = sharedDir;
        else if (bHash)
            HashHere(nDirFd, entry, fnRelieve); // no descriptor to spare: read now
    }
    if (reader->Error() == ENOMEM)
        ThrowShortage(ENOMEM);
    if (reader->Error() != 0)
        ++m_job.outcome.nUnreadDirs; // what was read before the failure stands
}

// Reads the checksum of the file just added, when no descriptor of its
// directory could be kept for the hashing threads.
void TreeWalk::HashHere(int nDirFd, const DirectoryEntry& entry,
                        const std::function<bool()>& fnRelieve) {
    for (;;) {
        errno = 0; // a digest refused for its length leaves no errno
        const std::optional<std::string> checksum =
            FileChecksumAt(nDirFd, entry.pszName, entry.bOwned, m_nMaxChecksumBytes);
        const int nErr = errno;
        if (checksum || !IsResourceShortage(nErr)) {
            // The step is the last one added: AddDigest extends its text.
            if (checksum)
                m_queue.AddDigest(*checksum);
            m_queue.LastStep().digest =
                checksum ? WalkStep::Digest::Read : WalkStep::Digest::Unreadable;
            return;
        }
        if (nErr == ENOMEM || !fnRelieve())
            ThrowShortage(nErr);
    }
}
