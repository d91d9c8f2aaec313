// SPDX-License-Identifier: GPL-3.0-or-later

#pragma once

#include <functional>
#include <optional>
#include <string>

class QString;
class QWidget;

// Everything the program asks of the desktop: message boxes, the folder and
// file pickers, opening a path with its default program. Each goes through
// one function here, so tests can answer in the user's place (the hooks).

enum class MessageIcon { Information, Warning, Critical, Question };
// YesNoDefaultNo: Enter and Escape both answer No, for a question whose Yes
// cannot be undone.
enum class MessageButtons { Ok, YesNo, YesNoDefaultNo };
enum class MessageAnswer { Ok, Yes, No };

struct MessageRequest {
    std::string strText;
    std::string strCaption;
    MessageIcon icon;
    MessageButtons buttons;
};

// Replacements of the desktop, set by tests; an empty one means the real thing.
struct DesktopHooks {
    std::function<MessageAnswer(const MessageRequest&)> fnMessage;
    std::function<std::optional<std::string>()> fnPickDirectory;
    std::function<std::optional<std::string>()> fnPickCatalogFile;
    std::function<std::optional<std::string>(const QString& strProposed)> fnPickSaveFile;
    // Opens a path in the desktop's place; why it could not, or an empty text.
    std::function<std::string(const std::string&)> fnOpenPath;
};
extern DesktopHooks g_desktopHooks;

// Shows a modal message box; the button the user chose.
MessageAnswer ShowMessage(QWidget* pOwner, const std::string& strText,
                          const std::string& strCaption, MessageIcon icon,
                          MessageButtons buttons = MessageButtons::Ok);

// The folder the user picked, as file-system bytes; nothing when cancelled.
std::optional<std::string> PickDirectory(QWidget* pOwner);

// The catalog file the user picked ("Database files (*.mdb)" or "All files
// (*)"); nothing when cancelled.
std::optional<std::string> PickCatalogFile(QWidget* pOwner);

// The file the user chose to save into, as file-system bytes ("CSV files
// (*.csv)" or "All files (*)"), strProposed the name offered at first;
// nothing when cancelled.
std::optional<std::string> PickSaveFile(QWidget* pOwner, const QString& strTitle,
                                        const QString& strProposed);

// A catalog time (UTC in ISO 8601, as catalog_info holds it) in the
// system's time zone with its abbreviation, "2026-12-09 16:05:00 CET";
// the text itself when it is no such time.
QString LocalTimeText(const std::string& strTime);

// Opens a file or folder with the desktop's default program for it, through
// xdg-open. Returns why that could not be done ("no xdg-open on the system",
// "no application for this kind of file"), or an empty text once the path was
// handed over. The path's bytes are passed on exactly.
std::string OpenWithDesktop(const std::string& strPath);

// Opens a file or folder as OpenWithDesktop does; when that cannot be done,
// warns (owned by pOwner) with what could not be opened and why.
void OpenOrWarn(QWidget* pOwner, const std::string& strPath);

// Runs a command handler; an engine error (or any other exception) it raises
// ends the command and is shown with its text in a critical message box.
void RunCommand(QWidget* pOwner, const std::function<void()>& fnCommand);

// Shows a failure's text in a critical message box captioned "Kestrel".
void ReportError(QWidget* pOwner, const std::string& strText);

// Display text of bytes that should be UTF-8; a byte that is not shows as
// the replacement character. BytesOf gives the UTF-8 bytes of a text.
QString DisplayText(const std::string& strBytes);
std::string BytesOf(const QString& strText);
