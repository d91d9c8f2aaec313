// SPDX-License-Identifier: GPL-3.0-or-later

#pragma once

#include <QDialog>
#include <string>
#include <utility>
#include <vector>

class QLineEdit;

// A small window with what a catalog records of itself (as kestrel-cli info
// prints it): its start directory, times, counts, options and volume, and
// at its end the catalog's note ("Note:", where the disk lives), which can
// be changed there. The texts can be selected and copied; OK or Enter keeps
// the note and closes it, Escape closes it leaving the note as it was.
class CCatalogProperties : public QDialog {
    Q_OBJECT

public:
    // lines: InfoLines of the catalog file strCatalogPath (a "Note" line
    // among them is shown in the note's box instead); strNote: its note.
    CCatalogProperties(const std::string& strEntry, const std::string& strCatalogPath,
                       const std::vector<std::pair<std::string, std::string>>& lines,
                       const std::string& strNote, QWidget* pParent = nullptr);

    QLineEdit* m_editNote;

protected:
    // Writes a changed note into the catalog first; when that fails (an
    // update holds the catalog, the file is read-only) says why and stays.
    void accept() override;

private:
    std::string m_strCatalogPath;
    std::string m_strNote;
};
