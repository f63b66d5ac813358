#include "menu/abstract-menu.h"

#include "value/interface.h"
#include "values/panel-signals.h"

#include <QCoreApplication>
#include <QFile>

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

} // namespace menu
