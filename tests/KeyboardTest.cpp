// SPDX-License-Identifier: GPL-3.0-or-later

// The desktop program by the keyboard alone: after a search the hits have
// the keyboard, Enter opens one, Delete deletes a catalog (asking first), and
// the Menu key and Shift+F10 open the right-click menus at the current row.
#include "DesktopFixture.h"
#include "UserInput.h"
#include "catalog/SearchMode.h"
#include "controls/CSortListCtrl.h"
#include "pages/CDBSearch.h"
#include "pages/CResult.h"
#include "search/DatabaseList.h"
#include "search/SearchMessages.h"

#include <QApplication>
#include <QClipboard>
#include <QListWidget>
#include <QMenu>

namespace {

class KeyboardTest : public DesktopTest {
protected:
    // Presses a key that opens a menu, checks that the menu points at the
    // row given (its corner within that row's height), then chooses strItem.
    void MenuByKey(QAbstractItemView& view, int nRow, Qt::Key key, Qt::KeyboardModifiers modifiers,
                   const char* pszItem) {
        const QRect row = view.visualRect(view.model()->index(nRow, 0));
        const QRect rowOnScreen(view.viewport()->mapToGlobal(row.topLeft()), row.size());
        WhenShows(
            nullptr, [] { return qobject_cast<QMenu*>(ShownPopup()); },
            [rowOnScreen](QWidget* pMenu) {
                if (pMenu) {
                    EXPECT_GE(pMenu->geometry().top(), rowOnScreen.top() - 1);
                    EXPECT_LE(pMenu->geometry().top(), rowOnScreen.bottom() + 1);
                    pMenu->close();
                }
            });
        Key(key, modifiers);
        WhenMenuShowsChoose(pszItem);
        Key(key, modifiers);
    }
};

} // namespace

TEST_F(KeyboardTest, TheKeysDoWhatTheMouseDoes) {
    m_tree.MakeDir("disk/a");
    for (const char* pszName : {"a/one.txt", "a/two.txt", "three.txt"})
        m_tree.WriteFile(std::string("disk/") + pszName, pszName);
    MakeCatalog("Disk", m_tree.Path("disk"));
    MakeCatalog("Spare", m_tree.Path("disk/a"));
    Start();
    Search("Disk", "*", kSearchFiles);
    CSortListCtrl& hits = *ResultPage().m_list;
    ASSERT_EQ(hits.GetItemCount(), 3);
    const std::vector<std::string> paths = ResultColumn(0);

    // The hits have the keyboard, the first one current: Enter opens it,
    // Down and Enter the next, as double clicks do.
    EXPECT_EQ(QApplication::focusWidget(), &hits);
    EXPECT_EQ(hits.currentIndex().row(), 0);
    Key(Qt::Key_Return);
    Key(Qt::Key_Down);
    Key(Qt::Key_Enter, Qt::KeypadModifier);
    EXPECT_EQ(m_opened, (std::vector<std::string>{paths[0], paths[1]}));
    EXPECT_TRUE(TakeMessages().empty());

    // The Menu key and Shift+F10 open the menu of the current row.
    MenuByKey(hits, 1, Qt::Key_Menu, Qt::NoModifier, "Copy path");
    EXPECT_EQ(QGuiApplication::clipboard()->text().toStdString(), paths[1] + "\n");
    Key(Qt::Key_Down);
    m_opened.clear();
    MenuByKey(hits, 2, Qt::Key_F10, Qt::ShiftModifier, "Open containing folder");
    EXPECT_EQ(m_opened, std::vector<std::string>{paths[2].substr(0, paths[2].rfind('/'))});

    // The catalog list: Delete asks as the button does; No keeps the catalog.
    ClickTab(0);
    QListWidget& entries = *SearchPage().m_listDatabases;
    const std::vector<std::string> listed = ListedEntries();
    const int nSpare =
        static_cast<int>(std::find(listed.begin(), listed.end(), "Spare") - listed.begin());
    ClickEntry(nSpare);
    ASSERT_EQ(QApplication::focusWidget(), &entries);
    Key(Qt::Key_Delete);
    std::vector<MessageRequest> messages = TakeMessages();
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_EQ(messages[0].strText, DeleteQuestion("Spare"));
    EXPECT_EQ(messages[0].buttons, MessageButtons::YesNoDefaultNo);
    EXPECT_TRUE(Exists(m_strData + "Spare.mdb"));
    m_answers = {MessageAnswer::Yes};
    Key(Qt::Key_Delete);
    EXPECT_EQ(TakeMessages().size(), 1u);
    EXPECT_FALSE(Exists(m_strData + "Spare.mdb"));
    EXPECT_EQ(ListedEntries(), std::vector<std::string>{"Disk"});

    // Its menu by the Menu key, at the current entry: Update brings Disk
    // up to date and says so.
    ClickEntry(0);
    MenuByKey(entries, 0, Qt::Key_Menu, Qt::NoModifier, "Update");
    messages = TakeMessages();
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_EQ(messages[0].strText.rfind("'Disk' is up to date", 0), 0u) << messages[0].strText;
}
