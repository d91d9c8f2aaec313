// SPDX-License-Identifier: GPL-3.0-or-later

#include "app/DiskWatch.h"

#include "app/Globals.h"

#include <QSocketNotifier>
#include <memory>

namespace {

// A mount or unmount changes the table in a few steps, each one signalled.
constexpr int kSettleMs = 100;

std::vector<std::string> MountedAt(const std::vector<MountEntry>& mounts) {
    std::vector<std::string> mounted;
    for (const MountEntry& mount : mounts)
        mounted.push_back(mount.strSource + '\n' + mount.strRoot + '\n' + mount.strMountPoint);
    return mounted;
}

} // namespace

DiskWatch::DiskWatch(std::function<std::vector<std::string>()> fnEntries,
                     std::function<void(const VolumeChanges&)> fnChanged, QObject* pParent)
    : QObject(pParent), m_fnEntries(std::move(fnEntries)), m_fnChanged(std::move(fnChanged)) {
    m_soon.setSingleShot(true);
    m_soon.setInterval(kSettleMs);
    connect(&m_soon, &QTimer::timeout, this, &DiskWatch::StartReading);
    if (m_mountWatch.Fd() >= 0) {
        // The kernel marks the table with priority data, which the notifier
        // of the exception kind reports.
        m_pNotifier = new QSocketNotifier(m_mountWatch.Fd(), QSocketNotifier::Exception, this);
        connect(m_pNotifier, &QSocketNotifier::activated, this, [this] {
            m_mountWatch.Acknowledge();
            ReadSoon();
        });
    }
    ReadSoon();
}

DiskWatch::~DiskWatch() {
    if (m_reader.joinable())
        m_reader.join();
}

void DiskWatch::ReadSoon() {
    m_soon.start();
}

bool DiskWatch::IsIdle() const {
    // The table is compared, not polled: a poll would take the change from
    // the notifier.
    return m_bHaveReading && !m_bReading && !m_bAgain && !m_soon.isActive() &&
           MountedAt(ReadMountTable()) == m_mountsRead;
}

void DiskWatch::StartReading() {
    if (m_bReading) {
        m_bAgain = true;
        return;
    }
    m_bReading = true;
    if (m_reader.joinable())
        m_reader.join();
    m_reader = std::thread([this, strAppPath = g_strAppPath, entries = m_fnEntries()] {
        const MountedVolumes mounted;
        auto pVolumes = std::make_shared<std::vector<CatalogVolume>>(
            LocateCatalogVolumes(strAppPath, entries, mounted));
        auto pMounts = std::make_shared<std::vector<std::string>>(MountedAt(mounted.Mounts()));
        // The watch joins this thread before it goes, so it is there to
        // receive the call.
        QMetaObject::invokeMethod(
            this,
            [this, pVolumes, pMounts] {
                m_mountsRead = std::move(*pMounts);
                ReadingDone(std::move(*pVolumes));
            },
            Qt::QueuedConnection);
    });
}

void DiskWatch::ReadingDone(std::vector<CatalogVolume> volumes) {
    m_reader.join();
    m_bReading = false;
    // Both readings stay here while fnChanged runs, whatever it starts.
    const std::vector<CatalogVolume> before = std::move(m_volumes);
    const std::vector<CatalogVolume> after = std::move(volumes);
    m_volumes = after;
    const bool bFirst = !m_bHaveReading;
    m_bHaveReading = true;
    if (m_bAgain) {
        m_bAgain = false;
        StartReading();
    }
    if (bFirst)
        return;
    const VolumeChanges changes = CompareVolumes(before, after);
    if (!changes.appeared.empty() || !changes.disappeared.empty())
        m_fnChanged(changes);
}
