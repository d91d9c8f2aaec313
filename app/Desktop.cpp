#include "app/Desktop.h"

#include <QDateTime>
#include <QDesktopServices>
#include <QFileDialog>
#include <QMessageBox>
#include <QUrl>
#include <exception>

DesktopHooks g_desktopHooks;

QString DisplayText(const std::string& strBytes) {
    return QString::fromUtf8(strBytes.data(), static_cast<qsizetype>(strBytes.size()));
}

std::string BytesOf(const QString& strText) {
    const QByteArray bytes = strText.toUtf8();
    return std::string(bytes.constData(), static_cast<size_t>(bytes.size()));
}

MessageAnswer ShowMessage(QWidget* pOwner, const std::string& strText,
                          const std::string& strCaption, MessageIcon icon, MessageButtons buttons) {
    if (g_desktopHooks.fnMessage)
        return g_desktopHooks.fnMessage({strText, strCaption, icon, buttons});
    const QMessageBox::Icon boxIcon = icon == MessageIcon::Information ? QMessageBox::Information
                                      : icon == MessageIcon::Warning   ? QMessageBox::Warning
                                      : icon == MessageIcon::Critical  ? QMessageBox::Critical
                                                                       : QMessageBox::Question;
    const QMessageBox::StandardButtons boxButtons =
        buttons == MessageButtons::Ok ? QMessageBox::Ok : QMessageBox::Yes | QMessageBox::No;
    QMessageBox box(boxIcon, DisplayText(strCaption), DisplayText(strText), boxButtons, pOwner);
    box.setTextFormat(Qt::PlainText); // a file name is never markup
    if (buttons == MessageButtons::YesNoDefaultNo) {
        box.setDefaultButton(QMessageBox::No);
        box.setEscapeButton(QMessageBox::No);
    }
    const int nChoice = box.exec();
    if (buttons == MessageButtons::Ok)
        return MessageAnswer::Ok;
    return nChoice == QMessageBox::Yes ? MessageAnswer::Yes : MessageAnswer::No;
}

std::optional<std::string> PickDirectory(QWidget* pOwner) {
    if (g_desktopHooks.fnPickDirectory)
        return g_desktopHooks.fnPickDirectory();
    const QString strDir = QFileDialog::getExistingDirectory(pOwner);
    return strDir.isEmpty() ? std::nullopt : std::optional(BytesOf(strDir));
}

std::optional<std::string> PickCatalogFile(QWidget* pOwner) {
    if (g_desktopHooks.fnPickCatalogFile)
        return g_desktopHooks.fnPickCatalogFile();
    const QString strFile = QFileDialog::getOpenFileName(pOwner, QString(), QString(),
                                                         "Database files (*.mdb);;All files (*)");
    return strFile.isEmpty() ? std::nullopt : std::optional(BytesOf(strFile));
}

std::optional<std::string> PickSaveFile(QWidget* pOwner, const QString& strTitle,
                                        const QString& strProposed) {
    if (g_desktopHooks.fnPickSaveFile)
        return g_desktopHooks.fnPickSaveFile(strProposed);
    QFileDialog dialog(pOwner, strTitle, QString(), "CSV files (*.csv);;All files (*)");
    if (!strProposed.isEmpty())
        dialog.selectFile(strProposed);
    dialog.setAcceptMode(QFileDialog::AcceptSave);
    dialog.setDefaultSuffix("csv"); // a name typed without one gets it
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
        return std::nullopt;
    return BytesOf(dialog.selectedFiles().front());
}

QString LocalTimeText(const std::string& strTime) {
    const QDateTime time = QDateTime::fromString(QString::fromStdString(strTime), Qt::ISODate);
    if (!time.isValid())
        return QString::fromStdString(strTime);
    const QDateTime local = time.toLocalTime();
    return local.toString("yyyy-MM-dd HH:mm:ss") + " " + local.timeZoneAbbreviation();
}

bool OpenWithDesktop(const std::string& strPath) {
    if (g_desktopHooks.fnOpenPath)
        return g_desktopHooks.fnOpenPath(strPath);
    // Percent-encoded bytes, so a name that is not UTF-8 still names its file.
    const QByteArray path(strPath.data(), static_cast<qsizetype>(strPath.size()));
    const QUrl url = QUrl::fromEncoded("file://" + path.toPercentEncoding("/"));
    return url.isValid() && QDesktopServices::openUrl(url);
}

void ReportError(QWidget* pOwner, const std::string& strText) {
    ShowMessage(pOwner, strText, "Kestrel", MessageIcon::Critical);
}

void RunCommand(QWidget* pOwner, const std::function<void()>& fnCommand) {
    try {
        fnCommand();
    } catch (const std::exception& error) {
        ReportError(pOwner, error.what());
    } catch (...) {
        ReportError(pOwner, "The command failed.");
    }
}
