// The shared DPI service: scale factor, style sheets and layouts scaled by it.
#pragma once

#include <QObject>
#include <QString>

class QLayout;
class QWidget;

class QssManager : public QObject {
    Q_OBJECT
public:
    // With scaleLayouts set, the parent's layout tree is scaled at once.
    explicit QssManager(QWidget* parent, bool scaleLayouts = false);

    // Logical DPI of the primary screen / 96, read afresh each call; 1 without a screen.
    static double dpiScale();
    // Every "<digits>px" times the factor (shortest form, 6 significant digits);
    // unchanged when the factor is at most 1.
    static QString scaleStyleSheet(const QString& text, double scale);
    static void scaleLayouts(QWidget* widget, double scale);
    static void scaleLayout(QLayout* layout, double scale);

    // Reads the style sheet and gives it, scaled, to the parent widget. An
    // unreadable file changes nothing.
    void loadStyleSheet(const QString& path);
};
