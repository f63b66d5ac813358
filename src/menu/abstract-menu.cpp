#include "menu/abstract-menu.h"

#include "value/interface.h"
#include "values/panel-signals.h"

#include <QAbstractSlider>
#include <QAbstractSpinBox>
#include <QComboBox>
#include <QCoreApplication>
#include <QFile>
#include <QScrollArea>
#include <QScrollBar>

AbstractMenu::AbstractMenu(QWidget* parent) : QWidget(parent) {
    // Clicks and wheel turns move the focus here, so a spin box being edited
    // finishes its edit before another control reacts.
    setFocusPolicy(Qt::WheelFocus);
}

void AbstractMenu::loadStyleSheet(const QString& path) {
    setStyleSheet(menu::styleSheet(path));
}

namespace menu {

namespace {
QString readSheet(const QString& path) {
    QFile css(path);
    if (!css.open(QIODevice::ReadOnly)) {
        LOGW("style sheet %s is missing", qPrintable(path));
        return QString();
    }
    return QString::fromUtf8(css.readAll());
}
} // namespace

QString styleSheet(const QString& path) {
    return readSheet(QStringLiteral(":/qss/property-menu.css")) + QLatin1Char('\n') + readSheet(path);
}

QString text(const char* section, const char* name) {
    const QByteArray key = QByteArray(section) + '.' + name;
    return QCoreApplication::translate("menu", key.constData());
}

void requestPreviewUpdate() { emit PanelSignals::instance()->sig_updatePreivew(); }

namespace {
class WheelPastFields : public QObject {
public:
    explicit WheelPastFields(QScrollArea* scroll) : QObject(scroll), m_scroll(scroll) {}

protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        auto* field = qobject_cast<QWidget*>(watched);
        if (event->type() != QEvent::Wheel || !field || field->hasFocus())
            return false;
        QCoreApplication::sendEvent(m_scroll->verticalScrollBar(), event);
        return true;
    }

private:
    QScrollArea* m_scroll;
};
} // namespace

void scrollPastFields(QScrollArea* scroll) {
    QWidget* page = scroll ? scroll->widget() : nullptr;
    if (!page)
        return;
    auto* filter = new WheelPastFields(scroll);
    for (QWidget* field : page->findChildren<QWidget*>()) {
        if (!qobject_cast<QComboBox*>(field) && !qobject_cast<QAbstractSpinBox*>(field) &&
            !qobject_cast<QAbstractSlider*>(field))
            continue;
        // Only the page's own fields: a text box's or a list's scroll bars
        // (and an open list's) scroll what they belong to.
        if (qobject_cast<QScrollBar*>(field) || field->window() != scroll->window())
            continue;
        QWidget* area = field->parentWidget();
        while (area && !qobject_cast<QAbstractScrollArea*>(area))
            area = area->parentWidget();
        if (area != scroll)
            continue;
        field->setFocusPolicy(Qt::StrongFocus); // a wheel turn alone gives no focus
        field->installEventFilter(filter);
    }
}

} // namespace menu
