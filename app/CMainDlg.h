// SPDX-License-Identifier: GPL-3.0-or-later

#pragma once

#include <QDialog>
#include <QIcon>
#include <QRect>
#include <string>
#include <vector>

class CDiskNotice;
class CMainApp;
class CMainMenu;
class DiskWatch;
class QTabWidget;
struct VolumeChanges;

// The main window: a tab control holding the Search, Result and Create
// database pages, the menu bar, and the switchboard between the pages.
// Exactly one page is visible, the page of the selected tab. The window can
// grow (and be maximised) but not shrink below its designed size; it comes
// back with the size, place and maximised state it was left with. While it
// stands it watches the mount table: when the disk of a listed catalog is
// plugged in, a notice offers to update the catalog.
class CMainDlg : public QDialog {
    Q_OBJECT

public:
    // Reads the data folder into g_strAppPath, builds the menu and the
    // pages, and records itself in g_hMainWnd and g_pMainMenu. Commands of
    // the menu go to app.
    explicit CMainDlg(CMainApp& app, QWidget* pParent = nullptr);
    // Destroys the pages, Create database first, Search last.
    ~CMainDlg() override;

    // The page request: 0, 1, 2 hide the visible page, select that tab and
    // show its page (hiding and showing it again when it was the visible
    // one); 10, 11, 12 only return the page. The page, or null for any
    // other value.
    QDialog* OnMainPage(int wParam);

    QTabWidget& Tab() const { return *m_tab; }
    CMainMenu& Menu() const { return *m_pMenu; }
    const QIcon& Icon() const { return m_hIcon; }

    // Where the pages lie in the tab control, in its coordinates: 5 pixels
    // in from the left, right and bottom, 25 down (below the row of tabs).
    static QRect PageRect(const QRect& rcTab);

protected:
    bool eventFilter(QObject* pWatched, QEvent* pEvent) override;

private:
    // The page of a tab item, held as the item's data; null for none.
    QDialog* Page(int nPage) const;
    void AddPage(int nPage, QDialog* pPage);
    // A tab click: the page shown so far is hidden, the new one shown.
    void OnSelChange(int nPage);
    void PlacePages();
    // Shows the notice of disks plugged in (or adds to the one shown), and
    // takes out of it the disks that went.
    void OnVolumesChanged(const VolumeChanges& changes);
    // The notice's Update: each catalog updated as its entry's menu does it.
    void UpdateCatalogs(const std::vector<std::string>& entries);

    QIcon m_hIcon;
    QTabWidget* m_tab;
    CMainMenu* m_pMenu;
    DiskWatch* m_pDiskWatch;
    CDiskNotice* m_pDiskNotice;
};
