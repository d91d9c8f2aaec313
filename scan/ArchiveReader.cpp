// SPDX-License-Identifier: GPL-3.0-or-later

#include "scan/ArchiveReader.h"

#include "catalog/MemberPath.h"
#include "scan/Md5.h"

#include <archive.h>
#include <archive_entry.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <clocale>
#include <cstring>
#include <locale.h>
#include <memory>
#include <new>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace {

// The endings of archive names, lower case. An ending alone never makes a
// file an archive: the library tells the kind by the content.
constexpr std::string_view kArchiveEndings[] = {
    ".zip",     ".tar",    ".tgz", ".tar.gz",   ".taz",  ".tbz",     ".tbz2",     ".tar.bz2",
    ".txz",     ".tar.xz", ".tlz", ".tar.lzma", ".tzst", ".tar.zst", ".tar.zstd", ".tar.lz",
    ".tar.lz4", ".tar.z",  ".7z",  ".rar",      ".iso",  ".cpio",
};

// Kinds the library reads only from a file it can seek in: inside another
// archive they are members, never read.
constexpr std::string_view kSeekingEndings[] = {".7z", ".iso"};

// Bytes asked of the file per read.
constexpr size_t kReadSize = 256 * 1024;
// Headers a damaged archive may ask to try again in a row before it is given up.
constexpr int kMaxRetries = 16;

bool EndsWithFolded(std::string_view name, std::string_view ending) {
    if (name.size() <= ending.size())
        return false;
    const std::string_view tail = name.substr(name.size() - ending.size());
    for (size_t i = 0; i < ending.size(); ++i) {
        char c = tail[i];
        if (c >= 'A' && c <= 'Z')
            c = static_cast<char>(c - 'A' + 'a');
        if (c != ending[i])
            return false;
    }
    return true;
}

// What the reading of one file on disk may still take, shared by the
// archives read inside it.
struct Budget {
    uint64_t nLimit = 0;
    uint64_t nData = 0; // member data read: for checksums, or as an inner archive
    std::vector<archive*> levels;
    bool bExceeded = false;
    ArchiveSink* pSink = nullptr; // asked whether to stop; none when re-reading a member
    bool bStopped = false;

    uint64_t Used() const {
        uint64_t n = nData;
        for (archive* a : levels) {
            const la_int64_t nLevel = archive_filter_bytes(a, 0);
            if (nLevel > 0)
                n += static_cast<uint64_t>(nLevel);
        }
        return n;
    }
    // True once the reading must end: the bound is reached, or a stop was asked for.
    bool Spent() {
        if (!bExceeded && Used() > nLimit)
            bExceeded = true;
        if (!bStopped && pSink && pSink->Stopped())
            bStopped = true;
        return bExceeded || bStopped;
    }
    bool Ended() const { return bExceeded || bStopped; }
    // Why the reading ended early, when Ended().
    const char* Problem() const {
        return bStopped ? "the reading was stopped" : "its data expands too far";
    }
};

// The file on disk as the library reads it.
struct FileSource {
    int fd;
    uint64_t nSize;
    int64_t nOffset = 0;
    Budget* pBudget;
    std::unique_ptr<char[]> buffer{new char[kReadSize]};
};

la_ssize_t ReadFile(archive* a, void* pData, const void** ppBuffer) {
    auto* pSource = static_cast<FileSource*>(pData);
    if (pSource->pBudget->Spent()) {
        archive_set_error(a, EFBIG, "%s", pSource->pBudget->Problem());
        return -1;
    }
    for (;;) {
        const ssize_t n = ::pread(pSource->fd, pSource->buffer.get(), kReadSize, pSource->nOffset);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0) {
            archive_set_error(a, errno, "%s", std::strerror(errno));
            return -1;
        }
        pSource->nOffset += n;
        *ppBuffer = pSource->buffer.get();
        return n;
    }
}

la_int64_t SeekFile(archive*, void* pData, la_int64_t nOffset, int nWhence) {
    auto* pSource = static_cast<FileSource*>(pData);
    int64_t nNew = nOffset;
    if (nWhence == SEEK_CUR)
        nNew = pSource->nOffset + nOffset;
    else if (nWhence == SEEK_END)
        nNew = static_cast<int64_t>(pSource->nSize) + nOffset;
    if (nNew < 0)
        return ARCHIVE_FATAL;
    pSource->nOffset = nNew;
    return nNew;
}

la_int64_t SkipFile(archive*, void* pData, la_int64_t nRequest) {
    auto* pSource = static_cast<FileSource*>(pData);
    const int64_t nLeft = static_cast<int64_t>(pSource->nSize) - pSource->nOffset;
    const int64_t nSkip = std::max<int64_t>(0, std::min<int64_t>(nRequest, nLeft));
    pSource->nOffset += nSkip;
    return nSkip;
}

// An archive that is the data of a member of another, read as it is
// decompressed (and hashed, when the member's checksum is wanted).
struct MemberSource {
    archive* pOuter;
    Budget* pBudget;
    Md5Context* pMd5; // null when the member is not hashed
    uint64_t nRead = 0;
    bool bFailed = false; // the outer archive's data ended in an error
    bool bFatal = false;  // one the outer archive cannot go on after
    std::unique_ptr<char[]> buffer{new char[kReadSize]};
};

la_ssize_t ReadMember(archive* a, void* pData, const void** ppBuffer) {
    auto* pSource = static_cast<MemberSource*>(pData);
    if (pSource->pBudget->Spent()) {
        archive_set_error(a, EFBIG, "%s", pSource->pBudget->Problem());
        return -1;
    }
    const la_ssize_t n = archive_read_data(pSource->pOuter, pSource->buffer.get(), kReadSize);
    if (n < 0) {
        pSource->bFailed = true;
        pSource->bFatal = n == ARCHIVE_FATAL;
        archive_set_error(a, EIO, "%s", archive_error_string(pSource->pOuter));
        return -1;
    }
    if (pSource->pMd5)
        pSource->pMd5->Update(pSource->buffer.get(), static_cast<size_t>(n));
    pSource->nRead += static_cast<uint64_t>(n);
    pSource->pBudget->nData += static_cast<uint64_t>(n);
    *ppBuffer = pSource->buffer.get();
    return n;
}

// Names in archives are read as UTF-8 whatever the process's locale: the
// library converts them to the thread's character set, and in the "C" locale
// no name beyond ASCII would convert. Bytes that are no UTF-8 stay as they are.
class Utf8Names {
public:
    Utf8Names() {
        static const locale_t utf8 = ::newlocale(LC_CTYPE_MASK, "C.UTF-8", nullptr);
        if (utf8)
            m_previous = ::uselocale(utf8);
    }
    ~Utf8Names() {
        if (m_previous)
            ::uselocale(m_previous);
    }
    Utf8Names(const Utf8Names&) = delete;
    Utf8Names& operator=(const Utf8Names&) = delete;

private:
    locale_t m_previous = nullptr;
};

struct ArchiveDeleter {
    void operator()(archive* a) const { archive_read_free(a); }
};
using ArchivePtr = std::unique_ptr<archive, ArchiveDeleter>;

// A reader of the kinds Kestrel lists. Only filters built into the library:
// none that runs another program.
ArchivePtr NewReader() {
    ArchivePtr a(archive_read_new());
    if (!a)
        throw std::bad_alloc();
    archive* p = a.get();
    archive_read_support_format_zip(p);
    archive_read_support_format_tar(p);
    archive_read_support_format_7zip(p);
    archive_read_support_format_rar(p);
    archive_read_support_format_rar5(p);
    archive_read_support_format_iso9660(p);
    archive_read_support_format_cpio(p);
    archive_read_support_filter_gzip(p);
    archive_read_support_filter_bzip2(p);
    archive_read_support_filter_xz(p);
    archive_read_support_filter_lzma(p);
    archive_read_support_filter_zstd(p);
    archive_read_support_filter_lz4(p);
    archive_read_support_filter_lzip(p);
    archive_read_support_filter_compress(p);
    return a;
}

// A reader of the archive that is the member source stands for.
ArchivePtr MemberReader(MemberSource& source) {
    ArchivePtr a = NewReader();
    archive_read_set_read_callback(a.get(), ReadMember);
    archive_read_set_callback_data(a.get(), &source);
    return a;
}

// Whether members of the archive may share one compressed block.
bool IsSolidKind(archive* a) {
    const int nBase = archive_format(a) & ARCHIVE_FORMAT_BASE_MASK;
    return nBase == ARCHIVE_FORMAT_7ZIP || nBase == ARCHIVE_FORMAT_RAR ||
           nBase == ARCHIVE_FORMAT_RAR_V5;
}

std::string FormatName(archive* a) {
    std::string strFormat;
    if (const char* pszFormat = archive_format_name(a))
        strFormat = pszFormat;
    for (int i = 0; i < archive_filter_count(a); ++i) {
        const char* pszFilter = archive_filter_name(a, i);
        if (pszFilter && std::strcmp(pszFilter, "none") != 0)
            strFormat += std::string(strFormat.empty() ? "" : ", ") + pszFilter;
    }
    return strFormat;
}

std::string ErrorText(archive* a, const char* pszFallback) {
    const char* pszError = archive_error_string(a);
    return pszError && *pszError ? pszError : pszFallback;
}

std::string RawPath(archive_entry* pEntry) {
    // The UTF-8 form where the archive says how its names are spelled;
    // otherwise the bytes as they stand.
    if (const char* pszUtf8 = archive_entry_pathname_utf8(pEntry))
        return pszUtf8;
    if (const char* pszPath = archive_entry_pathname(pEntry))
        return pszPath;
    return {};
}

// A member's time in nanoseconds since 1970; none when the header sets none,
// or one too far from 1970 to be counted in nanoseconds (a header may hold
// any 64-bit count of seconds).
std::optional<int64_t> MtimeNs(archive_entry* pEntry) {
    if (!archive_entry_mtime_is_set(pEntry))
        return std::nullopt;
    int64_t nNs = 0;
    if (__builtin_mul_overflow(static_cast<int64_t>(archive_entry_mtime(pEntry)),
                               int64_t{1000000000}, &nNs) ||
        __builtin_add_overflow(nNs, static_cast<int64_t>(archive_entry_mtime_nsec(pEntry)), &nNs))
        return std::nullopt;
    return nNs;
}

class Reader {
public:
    Reader(const ArchiveLimits& limits, ArchiveSink& sink, Budget& budget)
        : m_limits(limits), m_sink(sink), m_budget(budget) {}

    // Reads the archive open in a, whose source is set, at depth nDepth (1:
    // the file). False when it is no archive of a known kind.
    bool Read(archive* a, int nDepth, int64_t nOuterMember);
    // The archive in a could not be opened: false when it is of no kind the
    // library knows, else it is stored as damaged.
    bool OpenFailed(archive* a, int64_t nOuterMember);

private:
    bool ChecksumWanted(const ArchiveMember& member) const {
        return m_limits.bChecksum && S_ISREG(member.nMode) && !member.bEncrypted && member.nSize &&
               *member.nSize >= 0 &&
               static_cast<uint64_t>(*member.nSize) <= m_limits.nMaxChecksumBytes;
    }
    std::optional<std::string> HashData(archive* a, int& nStatus);
    void ReadInner(archive* pOuter, int nDepth, int64_t nMember, bool bHash, int& nStatus);

    const ArchiveLimits& m_limits;
    ArchiveSink& m_sink;
    Budget& m_budget;
};

// The digest of the current member's data; none when it reads longer than
// the limit, fails, or the budget runs out. nStatus gets the library's status
// of a read that failed (ARCHIVE_FATAL: the archive cannot go on).
std::optional<std::string> Reader::HashData(archive* a, int& nStatus) {
    Md5Context md5;
    std::array<char, 64 * 1024> buffer;
    uint64_t nRead = 0;
    for (;;) {
        if (m_budget.Spent())
            return std::nullopt;
        const la_ssize_t n = archive_read_data(a, buffer.data(), buffer.size());
        if (n == 0)
            return DigestToHex(md5.Finish());
        if (n < 0) {
            nStatus = static_cast<int>(n);
            return std::nullopt;
        }
        nRead += static_cast<uint64_t>(n);
        m_budget.nData += static_cast<uint64_t>(n);
        if (nRead > m_limits.nMaxChecksumBytes)
            return std::nullopt;
        md5.Update(buffer.data(), static_cast<size_t>(n));
    }
}

void Reader::ReadInner(archive* pOuter, int nDepth, int64_t nMember, bool bHash, int& nStatus) {
    Md5Context md5;
    MemberSource source{pOuter, &m_budget, bHash ? &md5 : nullptr};
    ArchivePtr inner = MemberReader(source);
    if (archive_read_open1(inner.get()) == ARCHIVE_OK)
        Read(inner.get(), nDepth, nMember);
    else if (!source.bFailed)
        OpenFailed(inner.get(), nMember);
    inner.reset();
    if (source.bFailed) {
        nStatus = source.bFatal ? ARCHIVE_FATAL : ARCHIVE_FAILED;
        return;
    }
    if (!bHash)
        return;
    // The rest of the member's data, for its checksum.
    std::array<char, 64 * 1024> buffer;
    for (;;) {
        if (m_budget.Spent())
            return;
        const la_ssize_t n = archive_read_data(pOuter, buffer.data(), buffer.size());
        if (n < 0) {
            nStatus = static_cast<int>(n);
            return;
        }
        if (n == 0)
            break;
        source.nRead += static_cast<uint64_t>(n);
        m_budget.nData += static_cast<uint64_t>(n);
        md5.Update(buffer.data(), static_cast<size_t>(n));
    }
    if (source.nRead <= m_limits.nMaxChecksumBytes)
        m_sink.MemberChecksum(nMember, DigestToHex(md5.Finish()));
}

bool Reader::OpenFailed(archive* a, int64_t nOuterMember) {
    if (archive_errno(a) == ENOMEM)
        throw std::bad_alloc();
    // The library's code for a content of no kind it knows.
    if (archive_errno(a) == EILSEQ)
        return false;
    ArchiveOutcome outcome;
    outcome.strFormat = FormatName(a);
    outcome.bComplete = false;
    outcome.strProblem = m_budget.Ended() ? m_budget.Problem() : ErrorText(a, "damaged");
    m_sink.EndArchive(m_sink.BeginArchive(nOuterMember), outcome);
    return true;
}

bool Reader::Read(archive* a, int nDepth, int64_t nOuterMember) {
    m_budget.levels.push_back(a);
    struct PopLevel {
        Budget& budget;
        ~PopLevel() { budget.levels.pop_back(); }
    } popLevel{m_budget};

    ArchiveOutcome outcome;
    int64_t nArchive = 0;
    bool bBegun = false;
    const auto begin = [&] {
        if (!bBegun) {
            nArchive = m_sink.BeginArchive(nOuterMember);
            bBegun = true;
        }
    };
    const auto fail = [&](std::string strProblem) {
        outcome.bComplete = false;
        if (outcome.strProblem.empty())
            outcome.strProblem = std::move(strProblem);
    };
    int nRetries = 0;
    archive_entry* pEntry = nullptr;
    // In a 7z or RAR archive the data of members passed over may have to be
    // unpacked, inside the library, to reach a later member's (a solid
    // block): their sizes count against the bound before data is read.
    uint64_t nPassedOver = 0;
    for (;;) {
        if (m_sink.Stopped()) {
            fail("the reading was stopped");
            break;
        }
        const int nHeader = archive_read_next_header(a, &pEntry);
        if (nHeader == ARCHIVE_EOF)
            break;
        if (nHeader == ARCHIVE_RETRY && ++nRetries <= kMaxRetries)
            continue;
        if (nHeader < ARCHIVE_WARN || nHeader == ARCHIVE_RETRY) {
            // A kind the library does not know, before any member: no archive.
            if (!bBegun && archive_format(a) == 0)
                return false;
            begin();
            fail(m_budget.Ended() ? m_budget.Problem() : ErrorText(a, "damaged"));
            break;
        }
        nRetries = 0;
        begin();
        if (outcome.strFormat.empty())
            outcome.strFormat = FormatName(a);

        ArchiveMember member;
        member.strPath = ArchiveMemberPath(RawPath(pEntry));
        member.nMode = static_cast<uint32_t>(archive_entry_mode(pEntry));
        if (member.strPath.size() > kMaxMemberPathBytes) {
            fail("a member's path is longer than " + std::to_string(kMaxMemberPathBytes) +
                 " bytes");
            continue;
        }
        if (member.strPath.empty()) {
            // The archive's own top folder ("./") is no member; a file
            // without a name cannot be shown or found, and is left out.
            if (!S_ISDIR(member.nMode))
                fail("a member has no name");
            continue;
        }
        if (archive_entry_size_is_set(pEntry))
            member.nSize = archive_entry_size(pEntry);
        member.nMtimeNs = MtimeNs(pEntry);
        member.bEncrypted = archive_entry_is_encrypted(pEntry) != 0;

        const bool bInner = nDepth < m_limits.nMaxDepth && S_ISREG(member.nMode) &&
                            !member.bEncrypted && IsArchiveName(member.strPath) &&
                            std::none_of(std::begin(kSeekingEndings), std::end(kSeekingEndings),
                                         [&](std::string_view ending) {
                                             return EndsWithFolded(member.strPath, ending);
                                         });
        bool bHash = ChecksumWanted(member);
        bool bReadsData = bHash || bInner;
        if (bReadsData && IsSolidKind(a)) {
            m_budget.nData += nPassedOver;
            nPassedOver = 0;
            if (m_budget.Spent())
                bReadsData = bHash = false;
        }
        int nStatus = ARCHIVE_OK;
        if (bInner && bReadsData) {
            const int64_t nMember = m_sink.Member(nArchive, member);
            ++outcome.nMembers;
            ReadInner(a, nDepth + 1, nMember, bHash, nStatus);
        } else {
            if (bHash)
                member.checksum = HashData(a, nStatus);
            m_sink.Member(nArchive, member);
            ++outcome.nMembers;
        }
        if (!bReadsData && S_ISREG(member.nMode) && member.nSize && *member.nSize > 0)
            nPassedOver += static_cast<uint64_t>(*member.nSize);
        if (nStatus == ARCHIVE_FATAL || m_budget.Ended()) {
            fail(m_budget.Ended() ? m_budget.Problem() : ErrorText(a, "damaged"));
            break;
        }
        // Damaged data of one member (a checksum that does not match, say):
        // the rest of the archive may still be read.
        if (nStatus != ARCHIVE_OK)
            fail(member.strPath + ": " + ErrorText(a, "its data cannot be read"));
    }
    if (!bBegun) {
        // Read to its end without one member: an archive all the same once
        // the library knew its kind.
        if (archive_format(a) == 0)
            return false;
        begin();
    }
    if (outcome.strFormat.empty())
        outcome.strFormat = FormatName(a);
    outcome.nBytesRead = m_budget.Used();
    m_sink.EndArchive(nArchive, outcome);
    return true;
}

// Opens the archive whose source is set on a; a message when it cannot be.
std::string OpenProblem(archive* a) {
    if (archive_read_open1(a) == ARCHIVE_OK)
        return {};
    if (archive_errno(a) == ENOMEM)
        throw std::bad_alloc();
    return archive_errno(a) == EILSEQ ? "it is no archive of a known kind"
                                      : ErrorText(a, "it cannot be read");
}

void FindMember(archive* a, const std::vector<std::string>& path, size_t nLevel,
                const ArchiveLimits& limits, Budget& budget, MemberData& data) {
    budget.levels.push_back(a);
    struct PopLevel {
        Budget& budget;
        ~PopLevel() { budget.levels.pop_back(); }
    } popLevel{budget};
    archive_entry* pEntry = nullptr;
    int nRetries = 0;
    for (;;) {
        const int nStatus = archive_read_next_header(a, &pEntry);
        if (nStatus == ARCHIVE_EOF) {
            data.strProblem = "the member is not in the archive";
            return;
        }
        if (nStatus == ARCHIVE_RETRY && ++nRetries <= kMaxRetries)
            continue;
        if (nStatus < ARCHIVE_WARN || nStatus == ARCHIVE_RETRY) {
            data.strProblem = budget.bExceeded ? "its data expands too far"
                                               : ErrorText(a, "the archive is damaged");
            return;
        }
        nRetries = 0;
        if (ArchiveMemberPath(RawPath(pEntry)) != path[nLevel])
            continue;
        if (nLevel + 1 < path.size()) {
            MemberSource source{a, &budget, nullptr};
            ArchivePtr inner = MemberReader(source);
            if (std::string strProblem = OpenProblem(inner.get()); !strProblem.empty()) {
                data.strProblem = std::move(strProblem);
                return;
            }
            FindMember(inner.get(), path, nLevel + 1, limits, budget, data);
            return;
        }
        data.bFound = true;
        if (archive_entry_size_is_set(pEntry))
            data.nSize = archive_entry_size(pEntry);
        data.nMtimeNs = MtimeNs(pEntry);
        if (archive_entry_is_encrypted(pEntry)) {
            data.strProblem = "its data is encrypted";
            return;
        }
        if (!S_ISREG(archive_entry_mode(pEntry)))
            return; // no data to hash
        Md5Context md5;
        std::array<char, 64 * 1024> buffer;
        uint64_t nRead = 0;
        for (;;) {
            if (budget.Spent()) {
                data.strProblem = "its data expands too far";
                return;
            }
            const la_ssize_t n = archive_read_data(a, buffer.data(), buffer.size());
            if (n == 0)
                break;
            if (n < 0) {
                data.strProblem = ErrorText(a, "its data cannot be read");
                return;
            }
            nRead += static_cast<uint64_t>(n);
            budget.nData += static_cast<uint64_t>(n);
            if (nRead > limits.nMaxChecksumBytes) {
                data.strProblem = "its data is longer than the checksum limit";
                return;
            }
            md5.Update(buffer.data(), static_cast<size_t>(n));
        }
        data.checksum = DigestToHex(md5.Finish());
        return;
    }
}

// A reader of the file source stands for.
ArchivePtr FileReader(FileSource& source) {
    ArchivePtr a = NewReader();
    archive_read_set_read_callback(a.get(), ReadFile);
    archive_read_set_seek_callback(a.get(), SeekFile);
    archive_read_set_skip_callback(a.get(), SkipFile);
    archive_read_set_callback_data(a.get(), &source);
    return a;
}

uint64_t BudgetLimit(uint64_t nFileSize, const ArchiveLimits& limits) {
    const uint64_t nTimes = std::max<uint64_t>(limits.nTimesSize, 1);
    const uint64_t nExtra =
        nFileSize > UINT64_MAX / 2 / nTimes ? UINT64_MAX / 2 : nFileSize * nTimes;
    return limits.nBaseBytes + nExtra;
}

} // namespace

MemberData ReadMemberData(int fd, uint64_t nFileSize, const std::vector<std::string>& path,
                          const ArchiveLimits& limits) {
    const Utf8Names utf8;
    MemberData data;
    if (path.empty()) {
        data.strProblem = "no member path";
        return data;
    }
    Budget budget;
    budget.nLimit = BudgetLimit(nFileSize, limits);
    FileSource source{fd, nFileSize, 0, &budget};
    ArchivePtr a = FileReader(source);
    if (std::string strProblem = OpenProblem(a.get()); !strProblem.empty()) {
        data.strProblem = std::move(strProblem);
        return data;
    }
    FindMember(a.get(), path, 0, limits, budget, data);
    return data;
}

bool IsArchiveName(std::string_view name) {
    const size_t nSlash = name.rfind('/');
    if (nSlash != std::string_view::npos)
        name.remove_prefix(nSlash + 1);
    return std::any_of(std::begin(kArchiveEndings), std::end(kArchiveEndings),
                       [&](std::string_view ending) { return EndsWithFolded(name, ending); });
}

bool ReadArchive(int fd, uint64_t nFileSize, const ArchiveLimits& limits, ArchiveSink& sink) {
    const Utf8Names utf8;
    Budget budget;
    budget.nLimit = BudgetLimit(nFileSize, limits);
    budget.pSink = &sink;
    FileSource source{fd, nFileSize, 0, &budget};
    ArchivePtr a = FileReader(source);
    Reader reader(limits, sink, budget);
    if (archive_read_open1(a.get()) != ARCHIVE_OK)
        return reader.OpenFailed(a.get(), 0);
    return reader.Read(a.get(), 1, 0);
}

std::string ArchiveMemberPath(std::string_view raw) {
    std::string strPath;
    strPath.reserve(raw.size());
    size_t i = 0;
    while (i < raw.size()) {
        const size_t nEnd = std::min(raw.find('/', i), raw.size());
        const std::string_view name = raw.substr(i, nEnd - i);
        if (!name.empty() && name != ".") {
            if (!strPath.empty())
                strPath += '/';
            strPath += name;
        }
        i = nEnd + 1;
    }
    return strPath;
}
