// SPDX-License-Identifier: GPL-3.0-or-later

#pragma once

#include "volume/CatalogVolumes.h"
#include "volume/MountWatch.h"

#include <QObject>
#include <QTimer>
#include <functional>
#include <string>
#include <thread>
#include <vector>

class QSocketNotifier;

// Watches the mount table while the program runs and tells which listed
// catalogs' volumes came online (or moved) and which went, each time the
// table changes. The volumes are located on a thread of the watch's own,
// one reading at a time, since probing devices can take a while; what
// changed is told on the UI thread.
class DiskWatch : public QObject {
    Q_OBJECT

public:
    // fnEntries gives the listed entries, in list order, at each reading;
    // fnChanged gets what changed against the reading before (its pointers
    // are valid during the call only).
    DiskWatch(std::function<std::vector<std::string>()> fnEntries,
              std::function<void(const VolumeChanges&)> fnChanged, QObject* pParent = nullptr);
    // Waits for a reading that runs.
    ~DiskWatch() override;
    DiskWatch(const DiskWatch&) = delete;
    DiskWatch& operator=(const DiskWatch&) = delete;

    // Reads the volumes again shortly (one reading for a burst of calls):
    // after the mount table or the list of catalogs changed.
    void ReadSoon();
    // True when a reading has been taken, and no other is asked for or
    // running, nor has the mount table changed since the last one.
    bool IsIdle() const;

private:
    void StartReading();
    void ReadingDone(std::vector<CatalogVolume> volumes);

    std::function<std::vector<std::string>()> m_fnEntries;
    std::function<void(const VolumeChanges&)> m_fnChanged;
    MountWatch m_mountWatch;
    QSocketNotifier* m_pNotifier = nullptr;
    QTimer m_soon;
    std::thread m_reader;
    bool m_bReading = false;
    bool m_bAgain = false;
    bool m_bHaveReading = false;
    std::vector<CatalogVolume> m_volumes;  // the last reading
    std::vector<std::string> m_mountsRead; // the mounts it saw
};
