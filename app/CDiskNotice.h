// SPDX-License-Identifier: GPL-3.0-or-later

#pragma once

#include "volume/CatalogVolumes.h"

#include <QFrame>
#include <QPointer>
#include <QTimer>
#include <functional>
#include <string>
#include <vector>

class QLabel;
class QPushButton;

// A small notice at the bottom right inside the main window (moved up as far
// as it must to leave the page's buttons and fields free): "The disk
// BACKUP (catalog Photos) is plugged in.", one line a disk, with "Update"
// and "Dismiss". It neither blocks nor takes the keyboard focus from what
// the person is doing, and goes by itself after 30 seconds, on Dismiss, on
// Update, or when all its disks have gone again; it then lists none.
class CDiskNotice : public QFrame {
    Q_OBJECT

public:
    // fnUpdate gets the entries listed when "Update" is clicked, after the
    // notice has gone.
    CDiskNotice(QWidget* pMainWindow, std::function<void(std::vector<std::string>)> fnUpdate);

    // Adds the catalogs whose volumes came online (one listed already is
    // told again, at its new place) and shows the notice for 30 seconds from
    // now.
    void AddDisks(const std::vector<const CatalogVolume*>& appeared);
    // Takes out the catalogs whose volumes went; the notice goes when none
    // is left.
    void RemoveDisks(const std::vector<const CatalogVolume*>& gone);
    // Hides the notice and forgets its disks.
    void Dismiss();
    // The entries listed, in the order they came.
    std::vector<std::string> Entries() const;

    QLabel* m_text;
    QPushButton* m_update;
    QPushButton* m_dismiss;

protected:
    // Follows the main window when it moves or changes its size.
    bool eventFilter(QObject* pWatched, QEvent* pEvent) override;
    // Gives the keyboard back to the window that had it, should the notice
    // be made the active window after all.
    void changeEvent(QEvent* pEvent) override;

private:
    struct Disk {
        std::string strEntry;
        std::string strDisk; // how the person knows it: its label, else its UUID, else where
        std::string strMountPoint;
    };
    void ShowText();
    void Place();
    // Where, in the main window, a notice of that size covers none of the
    // buttons and fields shown.
    QPoint FreePlace(QSize size) const;
    void Update();

    QWidget* m_pMainWindow;
    QPointer<QWidget> m_pWasActive; // the window active when the notice came
    std::function<void(std::vector<std::string>)> m_fnUpdate;
    std::vector<Disk> m_disks;
    QTimer m_timeout;
};
