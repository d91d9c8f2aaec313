// SPDX-License-Identifier: GPL-3.0-or-later

#include "app/CDiskNotice.h"

#include "app/Desktop.h"
#include "controls/DialogUnits.h"

#include <QAbstractButton>
#include <QAbstractSpinBox>
#include <QApplication>
#include <QComboBox>
#include <QEvent>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>
#include <algorithm>

namespace {

constexpr int kShownMs = 30000;
constexpr int kMargin = 12; // from the main window's edges

std::string DiskOf(const CatalogVolume& volume) {
    const VolumeInfo& disk = volume.info.volume;
    if (!disk.strLabel.empty())
        return disk.strLabel;
    if (!disk.strUuid.empty())
        return "with UUID " + disk.strUuid;
    // A catalog that names no volume: its start directory came back.
    return "at " + (volume.location.strMountPoint.empty() ? volume.info.strStartDir.value_or("")
                                                          : volume.location.strMountPoint);
}

} // namespace

CDiskNotice::CDiskNotice(QWidget* pMainWindow,
                         std::function<void(std::vector<std::string>)> fnUpdate)
    : QFrame(pMainWindow, Qt::Tool | Qt::FramelessWindowHint | Qt::WindowDoesNotAcceptFocus),
      m_pMainWindow(pMainWindow), m_fnUpdate(std::move(fnUpdate)) {
    setObjectName("DiskNotice");
    // Shown without taking the keyboard from the window the person types in.
    setAttribute(Qt::WA_ShowWithoutActivating);
    setFocusPolicy(Qt::NoFocus);
    setFrameShape(QFrame::StyledPanel);
    setAutoFillBackground(true);
    m_text = new QLabel(this);
    m_text->setObjectName("DiskNoticeText");
    m_text->setTextFormat(Qt::PlainText); // a label or catalog name is never markup
    m_text->setWordWrap(true);
    m_update = new QPushButton("Update", this);
    m_update->setObjectName("DiskNoticeUpdate");
    m_dismiss = new QPushButton("Dismiss", this);
    m_dismiss->setObjectName("DiskNoticeDismiss");
    for (QPushButton* pButton : {m_update, m_dismiss}) {
        pButton->setFocusPolicy(Qt::NoFocus);
        pButton->setAutoDefault(false);
    }
    auto* pButtons = new QHBoxLayout();
    pButtons->addStretch();
    pButtons->addWidget(m_update);
    pButtons->addWidget(m_dismiss);
    auto* pLayout = new QVBoxLayout(this);
    pLayout->addWidget(m_text);
    pLayout->addLayout(pButtons);
    connect(m_update, &QPushButton::clicked, this, &CDiskNotice::Update);
    connect(m_dismiss, &QPushButton::clicked, this, &CDiskNotice::Dismiss);
    m_timeout.setSingleShot(true);
    m_timeout.setInterval(kShownMs);
    connect(&m_timeout, &QTimer::timeout, this, &CDiskNotice::Dismiss);
    m_pMainWindow->installEventFilter(this);
    // Another page (its own buttons) comes with a change of the focus.
    connect(qApp, &QApplication::focusChanged, this, [this] {
        if (isVisible())
            Place();
    });
}

std::vector<std::string> CDiskNotice::Entries() const {
    std::vector<std::string> entries;
    for (const Disk& disk : m_disks)
        entries.push_back(disk.strEntry);
    return entries;
}

void CDiskNotice::AddDisks(const std::vector<const CatalogVolume*>& appeared) {
    for (const CatalogVolume* pVolume : appeared) {
        Disk disk{pVolume->strEntry, DiskOf(*pVolume), pVolume->location.strMountPoint};
        const auto it = std::find_if(m_disks.begin(), m_disks.end(), [&](const Disk& listed) {
            return listed.strEntry == disk.strEntry;
        });
        if (it != m_disks.end())
            *it = std::move(disk);
        else
            m_disks.push_back(std::move(disk));
    }
    ShowText();
    m_timeout.start();
    if (!isVisible()) {
        QWidget* pActive = QApplication::activeWindow();
        m_pWasActive = pActive != this ? pActive : nullptr;
    }
    show();
    raise();
}

void CDiskNotice::RemoveDisks(const std::vector<const CatalogVolume*>& gone) {
    for (const CatalogVolume* pVolume : gone)
        std::erase_if(m_disks,
                      [&](const Disk& disk) { return disk.strEntry == pVolume->strEntry; });
    if (m_disks.empty())
        Dismiss();
    else
        ShowText();
}

void CDiskNotice::ShowText() {
    // One line a disk: the catalogs of one disk share it.
    std::vector<std::pair<const Disk*, std::vector<std::string>>> lines;
    for (const Disk& disk : m_disks) {
        const auto it = std::find_if(lines.begin(), lines.end(), [&](const auto& line) {
            return line.first->strDisk == disk.strDisk &&
                   line.first->strMountPoint == disk.strMountPoint;
        });
        if (it != lines.end())
            it->second.push_back(disk.strEntry);
        else
            lines.push_back({&disk, {disk.strEntry}});
    }
    std::string strText;
    for (const auto& [pDisk, entries] : lines) {
        if (!strText.empty())
            strText += '\n';
        strText +=
            "The disk " + pDisk->strDisk + (entries.size() == 1 ? " (catalog " : " (catalogs ");
        for (size_t i = 0; i < entries.size(); ++i)
            strText += (i == 0 ? "" : ", ") + entries[i];
        strText += ") is plugged in.";
    }
    m_text->setText(DisplayText(strText));
    Place();
}

void CDiskNotice::Place() {
    // As wide as a short line needs, never wider than the main window.
    const int nRoom = std::max(0, m_pMainWindow->width() - 2 * kMargin);
    const int nWidth = std::min(nRoom, std::max(DialogUnits(font()).X(170), sizeHint().width()));
    const int nHeight =
        layout()->hasHeightForWidth() ? layout()->totalHeightForWidth(nWidth) : sizeHint().height();
    resize(nWidth, nHeight);
    move(m_pMainWindow->mapToGlobal(FreePlace(QSize(nWidth, nHeight))));
}

QPoint CDiskNotice::FreePlace(QSize size) const {
    // What a person clicks or types in: buttons, fields and lists of choices.
    std::vector<QRect> controls;
    for (const QWidget* pChild : m_pMainWindow->findChildren<QWidget*>()) {
        if (pChild->isWindow() || !pChild->isVisible() ||
            !(qobject_cast<const QAbstractButton*>(pChild) ||
              qobject_cast<const QLineEdit*>(pChild) || qobject_cast<const QComboBox*>(pChild) ||
              qobject_cast<const QAbstractSpinBox*>(pChild)))
            continue;
        controls.emplace_back(pChild->mapTo(m_pMainWindow, QPoint(0, 0)), pChild->size());
    }
    // The bottom right, else as little above it as leaves every control
    // free; when none does, the bottom right all the same.
    const QPoint bottomRight(m_pMainWindow->width() - kMargin - size.width(),
                             m_pMainWindow->height() - kMargin - size.height());
    for (int y = bottomRight.y(); y >= kMargin; y -= 2) {
        const QRect place(QPoint(bottomRight.x(), y), size);
        if (std::none_of(controls.begin(), controls.end(),
                         [&](const QRect& control) { return control.intersects(place); }))
            return place.topLeft();
    }
    return bottomRight;
}

bool CDiskNotice::eventFilter(QObject* pWatched, QEvent* pEvent) {
    if (pWatched == m_pMainWindow &&
        (pEvent->type() == QEvent::Move || pEvent->type() == QEvent::Resize))
        Place();
    return QFrame::eventFilter(pWatched, pEvent);
}

void CDiskNotice::changeEvent(QEvent* pEvent) {
    QFrame::changeEvent(pEvent);
    // The window manager is asked not to activate the notice, but a platform
    // that activates every window it shows (the offscreen one does) would
    // take the keyboard from the person's window.
    if (pEvent->type() == QEvent::ActivationChange && isActiveWindow() && m_pWasActive &&
        m_pWasActive->isVisible())
        m_pWasActive->activateWindow();
}

void CDiskNotice::Dismiss() {
    m_timeout.stop();
    m_disks.clear();
    hide();
}

void CDiskNotice::Update() {
    const std::vector<std::string> entries = Entries();
    // Gone first: the update's own windows are modal.
    Dismiss();
    m_fnUpdate(entries);
}
