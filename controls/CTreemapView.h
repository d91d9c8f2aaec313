// SPDX-License-Identifier: GPL-3.0-or-later

#pragma once

#include <QColor>
#include <QImage>
#include <QThreadPool>
#include <QWidget>

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

// One rectangle's worth of a treemap: a folder or a file of the folder shown.
struct TreemapItem {
    std::string strName; // as stored
    QString tip;         // shown on hover; when empty, made of the path, the size and the files
    uint64_t nBytes = 0;
    std::optional<uint64_t> nFiles; // a folder's
    QColor colour;
    bool bFolder = false;
    int64_t nId = 0;
    // What a folder's rectangle holds, drawn inside it where there is room
    // (its subfolders, and its own files as one rectangle).
    std::vector<TreemapItem> inner;
};

// A treemap of one folder: a rectangle per entry, its area its share of the
// bytes, a folder's holding what it holds, laid out squarified and drawn
// into a picture on a thread of its own, so the window stays responsive
// however many entries there are. A rectangle shows its name where it fits
// and its tip on hover; a click says which entry it was (the innermost one
// under the mouse).
class CTreemapView : public QWidget {
    Q_OBJECT
public:
    explicit CTreemapView(QWidget* pParent = nullptr);
    ~CTreemapView() override;

    // Replaces the entries, those of the folder strFolder (empty when they
    // are of many); the picture follows when laid out.
    void SetItems(std::vector<TreemapItem> items, const QString& strFolder = {});
    // The entries, in the order given.
    const std::vector<TreemapItem>& Items() const { return *m_pItems; }
    // Where an entry (of the outermost ones) is shown; empty before the
    // layout is done, or for an entry too small to show.
    QRect ItemRect(size_t nItem) const;
    // True once the picture shows the entries last set.
    bool IsLaidOut() const { return m_nShown == m_nGeneration; }

signals:
    // A click on an entry's rectangle.
    void itemClicked(const TreemapItem& item);

protected:
    void paintEvent(QPaintEvent* pEvent) override;
    void resizeEvent(QResizeEvent* pEvent) override;
    void mouseMoveEvent(QMouseEvent* pEvent) override;
    void mouseReleaseEvent(QMouseEvent* pEvent) override;
    bool event(QEvent* pEvent) override;

private:
    void StartLayout();
    const TreemapItem* ItemAt(QPoint pt) const;
    QRect ShownRect(const TreemapItem* pItem) const;

    QString TipOf(const TreemapItem& item) const;

    std::shared_ptr<const std::vector<TreemapItem>> m_pItems =
        std::make_shared<const std::vector<TreemapItem>>();
    QString m_strFolder;
    struct Shown {
        QRect rect;
        const TreemapItem* pItem;
    };
    std::shared_ptr<const std::vector<TreemapItem>> m_pLaidOut; // what the picture shows
    std::vector<Shown> m_shown; // outer rectangles before the ones inside them
    std::vector<QRect> m_rects; // of the outermost entries, in their order
    QImage m_picture;
    uint64_t m_nGeneration = 0, m_nShown = 0;
    QThreadPool m_pool; // last: its tasks end before the rest goes
};
