// The frame of every property panel: the timeline loads a clip's values
// with UpdateData, and each edit goes back as sig_updateData with the
// panel's full value map and the name of the changed field.
// GUI thread only.
#pragma once

#include "values/source-types.h"
#include "value/value.h"

#include <QWidget>

class QScrollArea;

#include <string>

// How a clip's cropped picture fills its placement.
enum StretchType { StretchFill = 0, StretchKeepRatio = 1 };
Q_DECLARE_METATYPE(StretchType)

class AbstractMenu : public QWidget {
    Q_OBJECT
public:
    explicit AbstractMenu(QWidget* parent = nullptr);

    // Shows a clip's values; never emits sig_updateData.
    virtual void UpdateData(bg::ValueMap map) = 0;

signals:
    void sig_updateData(MenuType type, bg::ValueMap map, std::string datatype);

protected:
    // The panels' shared look and then the panel's own sheet.
    void loadStyleSheet(const QString& path);
};

namespace menu {

// The panels' shared style sheet followed by the one at path; a missing
// sheet is logged.
QString styleSheet(const QString& path);

// The text of a translation key made of a section and a name.
QString text(const char* section, const char* name);

// A wheel turned over a list, number field or slider of the scrolled page
// scrolls the page unless that field has the focus (it took a click or a
// Tab): scrolling down a panel does not change the values it passes.
void scrollPastFields(QScrollArea* scroll);

// Asks the preview for a fresh frame through the application object, which
// owns the wiring (queued: the panels are often mid-edit).
void requestPreviewUpdate();

} // namespace menu
