// SPDX-License-Identifier: GPL-3.0-or-later

#pragma once

#include "TestTree.h"
#include "app/CMainApp.h"
#include "app/Desktop.h"

#include <deque>
#include <functional>
#include <gtest/gtest.h>
#include <memory>
#include <optional>
#include <string>
#include <vector>

class CDBControl;
class CDBSearch;
class CMainDlg;
class CResult;
class QLineEdit;

// A test that drives the whole program as a user would: its own data
// folder, the main window, and the desktop answered by the test (message
// boxes, pickers, opening paths), every request recorded.
class DesktopTest : public ::testing::Test {
protected:
    DesktopTest();
    ~DesktopTest() override;

    // Makes and shows the main window.
    void Start();
    // Closes and destroys the main window, as at the program's end.
    void Stop();
    CMainDlg& Main() const { return *m_pMain; }
    CDBSearch& SearchPage() const;
    CResult& ResultPage() const;
    CDBControl& CreatePage() const;
    int CurrentTab() const;

    // What a person does, through real mouse and key events (UserInput.h);
    // each runs the events that follow from it before it returns.
    // Clicks a push button of a page, found by its object name.
    void Click(QWidget& page, const char* pszButton);
    // Clicks a tab of the main window.
    void ClickTab(int nPage);
    // Clicks an entry of the Search page's catalog list, which selects or
    // deselects it and makes it the current entry.
    void ClickEntry(int nRow);
    // Presses a key on the widget that has the focus.
    void Key(Qt::Key key, Qt::KeyboardModifiers modifiers = Qt::NoModifier);
    // Replaces a field's text by typing.
    void Type(QLineEdit& field, const std::string& strText);
    // Chooses "Where search:" by its index.
    void ChooseWhere(int nMode);
    // Runs fnAct once a modal window (a message box, the About box) is up
    // and has the focus; it acts on that window. Waits for it up to a few
    // seconds, then fails the test.
    void WhenModalShows(std::function<void(QWidget&)> fnAct);
    // Runs pending events (paints, queued calls).
    void Settle();

    // Builds the catalog strName in the data folder from a folder of m_tree;
    // with bArchives, with the members of its archives.
    void MakeCatalog(const std::string& strName, const std::string& strStartDir,
                     bool bChecksum = true, bool bArchives = false);
    // Writes the catalog strName in the data folder row by row: the
    // directories in order, then each file in the directory it names.
    struct CatalogFile {
        std::string strDir;
        std::string strName;
        std::optional<int64_t> nSize;
        std::string strChecksum; // empty: none stored
    };
    void MakeCatalogOfRows(const std::string& strName, const std::vector<std::string>& dirs,
                           const std::vector<CatalogFile>& files);
    // Selects the Search page's entries with these texts (and no other), by
    // clicking those whose selection must change.
    void SelectEntries(const std::vector<std::string>& entries);
    // Searches one catalog from the Search page, as a person does: its entry
    // selected alone, the text typed, the mode chosen, "Search" clicked.
    void Search(const std::string& strEntry, const std::string& strText, int nMode);
    std::vector<std::string> ListedEntries() const;
    // The Result list's texts in a column, row by row.
    std::vector<std::string> ResultColumn(int nColumn) const;

    // The messages shown since the last call, then forgotten.
    std::vector<MessageRequest> TakeMessages();
    // Texts only.
    std::vector<std::string> TakeMessageTexts();

    TestTree m_tree;
    std::string m_strData;               // the data folder, ending with '/'
    std::deque<MessageAnswer> m_answers; // for Yes/No questions; No when empty
    std::vector<MessageRequest> m_messages;
    std::optional<std::string> m_pickedDirectory;
    std::optional<std::string> m_pickedFile;
    std::optional<std::string> m_pickedSaveFile;
    std::vector<std::string> m_proposedSaveNames; // the names the save picker offered
    std::vector<std::string> m_opened;
    bool m_bOpenSucceeds = true;
    CMainApp m_app;

private:
    ScopedEnv m_dataHome;
    std::unique_ptr<CMainDlg> m_pMain;
};
