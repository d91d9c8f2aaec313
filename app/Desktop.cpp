// SPDX-License-Identifier: GPL-3.0-or-later

#include "app/Desktop.h"

#include <QDateTime>
#include <QFile>
#include <QFileDialog>
#include <QMessageBox>
#include <QMimeDatabase>
#include <QProcess>
#include <QStandardPaths>
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

namespace {

// Whether the desktop names a program for the kind of file at strPath (its
// type, or a type it is a kind of, as text/x-csrc is text/plain). True when
// that cannot be told: xdg-mime missing or not answering leaves the decision
// to xdg-open.
bool HasApplicationFor(const std::string& strPath) {
    const QString strQuery = QStandardPaths::findExecutable("xdg-mime");
    if (strQuery.isEmpty())
        return true;
    const QMimeType type = QMimeDatabase().mimeTypeForFile(QFile::decodeName(strPath.c_str()));
    QStringList names = type.allAncestors();
    names.prepend(type.name());
    for (const QString& strType : names) {
        QProcess query;
        query.start(strQuery, {"query", "default", strType});
        if (!query.waitForFinished(5000) || query.exitStatus() != QProcess::NormalExit)
            return true;
        if (!query.readAllStandardOutput().trimmed().isEmpty())
            return true;
    }
    return false;
}

} // namespace

QString LocalTimeText(const std::string& strTime) {
    const QDateTime time = QDateTime::fromString(QString::fromStdString(strTime), Qt::ISODate);
    if (!time.isValid())
        return QString::fromStdString(strTime);
    const QDateTime local = time.toLocalTime();
    return local.toString("yyyy-MM-dd HH:mm:ss") + " " + local.timeZoneAbbreviation();
}

std::string OpenWithDesktop(const std::string& strPath) {
    if (g_desktopHooks.fnOpenPath)
        return g_desktopHooks.fnOpenPath(strPath);
    const QString strOpener = QStandardPaths::findExecutable("xdg-open");
    if (strOpener.isEmpty())
        return "no xdg-open on the system";
    // xdg-open hands the file to its program and may wait for that program
    // to end: what it says of a missing program comes too late to be shown,
    // so it is asked first.
    if (!HasApplicationFor(strPath))
        return "no application for this kind of file";
    // Percent-encoded bytes, so a name that is not UTF-8 still names its file.
    const QByteArray path(strPath.data(), static_cast<qsizetype>(strPath.size()));
    const QUrl url = QUrl::fromEncoded("file://" + path.toPercentEncoding("/"));
    if (!url.isValid())
        return "the path cannot be written as a file address";
    if (!QProcess::startDetached(strOpener, {QString::fromLatin1(url.toEncoded())}))
        return "xdg-open could not be started";
    return {};
}

void OpenOrWarn(QWidget* pOwner, const std::string& strPath) {
    if (const std::string strReason = OpenWithDesktop(strPath); !strReason.empty())
        ShowMessage(pOwner, "Can't open selected file or directory '" + strPath + "': " + strReason,
                    "Warning", MessageIcon::Warning);
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
