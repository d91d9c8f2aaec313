#pragma once

#include <QDialog>
#include <string>
#include <utility>
#include <vector>

// A small window with what a catalog records of itself (as kestrel-cli info
// prints it): its start directory, times, counts, options and volume. The
// texts can be selected and copied; OK, Enter or Escape closes it.
class CCatalogProperties : public QDialog {
    Q_OBJECT

public:
    CCatalogProperties(const std::string& strEntry,
                       const std::vector<std::pair<std::string, std::string>>& lines,
                       QWidget* pParent = nullptr);
};
