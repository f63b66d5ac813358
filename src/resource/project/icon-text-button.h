// A push button that paints its picture beside its text itself, with its own
// pictures for hover, checked and disabled states. GUI thread only.
#pragma once

#include <QPixmap>
#include <QPushButton>

class IconTextButton : public QPushButton {
    Q_OBJECT
public:
    // Where the picture stands against the text.
    enum IconPosition { IconLeft = 0, IconRight = 1, IconTop = 2, IconBottom = 3 };

    explicit IconTextButton(QWidget* parent = nullptr);
    IconTextButton(const QString& text, QWidget* parent = nullptr);

    // A null hover, checked or disabled picture falls back to the normal one.
    void setPixmaps(const QPixmap& normal, const QPixmap& hover = QPixmap(),
                    const QPixmap& checked = QPixmap(), const QPixmap& disabled = QPixmap());
    void setIconPosition(int position);
    int iconPosition() const { return m_position; }
    // Pixels between picture and text.
    void setSpacing(int spacing);
    int spacing() const { return m_spacing; }

    // The picture the button paints in its present state.
    const QPixmap& currentPixmap() const;

    // The content size times the screen's scale against 96 DPI, rounded.
    QSize sizeHint() const override;
    QSize minimumSizeHint() const override { return sizeHint(); }

protected:
    void paintEvent(QPaintEvent* event) override;
    void enterEvent(QEvent* event) override;
    void leaveEvent(QEvent* event) override;

private:
    QSize contentSize() const;

    QPixmap m_normal, m_hover, m_checked, m_disabled;
    int m_position = IconLeft;
    int m_spacing = 5;
    bool m_hovered = false;
};
