#include "qssmanager.h"

#include "value/interface.h"
#include "values/screen-scale.h"

#include <QFile>
#include <QGuiApplication>
#include <QLayout>
#include <QRegularExpression>
#include <QScreen>
#include <QWidget>

QssManager::QssManager(QWidget* parent, bool scaleLayoutsNow) : QObject(parent) {
    if (parent && scaleLayoutsNow)
        scaleLayouts(parent, dpiScale());
}

double QssManager::dpiScale() { return screenDpiScale(); }

QString QssManager::scaleStyleSheet(const QString& text, double scale) {
    if (scale <= 1.0)
        return text;
    static const QRegularExpression pixels(QStringLiteral("(\\d+)px"));
    QString out;
    out.reserve(text.size());
    int last = 0;
    auto it = pixels.globalMatch(text);
    while (it.hasNext()) {
        QRegularExpressionMatch m = it.next();
        out += text.midRef(last, m.capturedStart() - last);
        out += QString::number(m.captured(1).toDouble() * scale, 'g', 6) + QLatin1String("px");
        last = m.capturedEnd();
    }
    out += text.midRef(last);
    return out;
}

void QssManager::scaleLayouts(QWidget* widget, double scale) {
    if (!widget)
        return;
    if (widget->layout())
        scaleLayout(widget->layout(), scale);
    for (QObject* child : widget->children()) {
        if (auto* w = qobject_cast<QWidget*>(child))
            scaleLayouts(w, scale);
    }
}

void QssManager::scaleLayout(QLayout* layout, double scale) {
    if (!layout)
        return;
    QMargins m = layout->contentsMargins();
    layout->setContentsMargins(int(m.left() * scale), int(m.top() * scale), int(m.right() * scale),
                               int(m.bottom() * scale));
    layout->setSpacing(int(layout->spacing() * scale));
    for (int i = 0; i < layout->count(); ++i) {
        if (QLayout* child = layout->itemAt(i)->layout())
            scaleLayout(child, scale);
    }
}

void QssManager::loadStyleSheet(const QString& path) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly | QIODevice::Text)) {
        LOGW("style sheet %s cannot be read", qUtf8Printable(path));
        return;
    }
    QString text = QString::fromUtf8(file.readAll());
    if (auto* widget = qobject_cast<QWidget*>(parent()))
        widget->setStyleSheet(scaleStyleSheet(text, dpiScale()));
}
