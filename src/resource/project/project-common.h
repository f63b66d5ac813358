// Names, keys and small helpers shared by the create-project dialog and the
// works history. GUI thread only.
#pragma once

#include <QString>

class QWidget;

namespace project {

// Configuration keys.
constexpr const char* kCreateDefaultPathKey = "create_default_path";
constexpr const char* kHistoryKey = "work.history";
constexpr const char* kImportPathKey = "ResForm.ImportWorkPath";

// Project files carry this suffix; the dialog and the rename append it.
constexpr const char* kProjectSuffix = ".zya2";

// True when the name holds a character that some file system the projects
// travel to refuses: \ / : * ? " < > | and the full-width question mark.
bool hasForbiddenCharacters(const QString& name);
// ": " and those characters, as the refusal messages list them.
QString forbiddenCharacterList();

// Two paths that name the same file: the real paths when both exist, else
// the cleaned absolute paths.
bool samePath(const QString& a, const QString& b);

// Gives the widget the style sheet stored at path in the resources; an
// unreadable file changes nothing (logged).
void loadStyleSheet(QWidget* widget, const QString& path);

// An information box with one button, run modally; parent may be null.
void showMessage(QWidget* parent, const QString& title, const QString& text, const QString& button);

} // namespace project
