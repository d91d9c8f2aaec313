#include "search/HitStream.h"

namespace {

// The most memory the waiting batches of one catalog take; its reader waits
// when they take more, so a slow taker holds back only a little.
constexpr size_t kQueuedBytesPerCatalog = 4 << 20;

} // namespace

void HitStream::Batch::Add(const SearchHit& hit) {
    Packed& packed = hits.emplace_back();
    // A path is one file-system name long at most, far below 4 GiB.
    packed.nPathBytes = static_cast<uint32_t>(hit.path.size());
    strBytes.append(hit.path);
    if (hit.checksum) {
        packed.bChecksum = true;
        packed.nChecksumBytes = static_cast<uint32_t>(hit.checksum->size());
        strBytes.append(*hit.checksum);
    }
    packed.bSize = hit.nSize.has_value();
    packed.nSize = hit.nSize.value_or(0);
    packed.bMtime = hit.nMtimeNs.has_value();
    packed.nMtimeNs = hit.nMtimeNs.value_or(0);
}

size_t HitStream::Batch::Memory() const {
    return strBytes.capacity() + hits.capacity() * sizeof(Packed);
}

bool HitStream::Queue::Put(Batch&& batch) {
    std::unique_lock lock(m_mutex);
    m_cv.wait(lock, [&] { return m_bGivenUp || m_nMemory < kQueuedBytesPerCatalog; });
    if (m_bGivenUp)
        return false;
    m_nMemory += batch.Memory();
    m_batches.push_back(std::move(batch));
    m_cv.notify_all();
    return true;
}

void HitStream::Queue::End(Batch&& last, std::exception_ptr error) {
    std::lock_guard lock(m_mutex);
    if (!last.hits.empty() && !m_bGivenUp) {
        m_nMemory += last.Memory();
        m_batches.push_back(std::move(last));
    }
    m_error = error;
    m_bEnded = true;
    m_cv.notify_all();
}

bool HitStream::Queue::Take(Batch& batch, std::exception_ptr& error) {
    std::unique_lock lock(m_mutex);
    m_cv.wait(lock, [&] { return !m_batches.empty() || m_bEnded; });
    if (m_batches.empty()) {
        error = m_error;
        return false;
    }
    batch = std::move(m_batches.front());
    m_batches.pop_front();
    m_nMemory -= batch.Memory();
    m_cv.notify_all(); // its reader may go on
    return true;
}

void HitStream::Queue::GiveUp() {
    std::lock_guard lock(m_mutex);
    m_bGivenUp = true;
    m_batches.clear();
    m_nMemory = 0;
    m_cv.notify_all();
}

HitStream::HitStream(std::shared_ptr<Queue> queue, SearchMode mode, std::string strCatalog)
    : m_queue(std::move(queue)), m_strCatalog(std::move(strCatalog)) {
    m_hit.catalog = m_strCatalog;
    m_hit.bDirectory = mode == kSearchDirs;
    Settle();
}

HitStream::~HitStream() {
    Close();
}

void HitStream::MoveNext() {
    if (!m_bEOF)
        Settle();
}

void HitStream::Close() {
    if (m_bOpen)
        m_queue->GiveUp();
    m_bOpen = false;
    m_bEOF = true;
}

void HitStream::Settle() {
    if (m_nNext == m_batch.hits.size()) {
        std::exception_ptr error;
        m_batch = Batch();
        m_nNext = m_nBytesAt = 0;
        if (!m_queue->Take(m_batch, error)) {
            Close();
            if (error)
                std::rethrow_exception(error);
            return;
        }
    }
    const Batch::Packed& packed = m_batch.hits[m_nNext++];
    const std::string_view bytes(m_batch.strBytes);
    m_hit.path = bytes.substr(m_nBytesAt, packed.nPathBytes);
    m_nBytesAt += packed.nPathBytes;
    m_hit.checksum.reset();
    if (packed.bChecksum)
        m_hit.checksum = bytes.substr(m_nBytesAt, packed.nChecksumBytes);
    m_nBytesAt += packed.nChecksumBytes;
    m_hit.nSize = packed.bSize ? std::optional<int64_t>(packed.nSize) : std::nullopt;
    m_hit.nMtimeNs = packed.bMtime ? std::optional<int64_t>(packed.nMtimeNs) : std::nullopt;
}
