#include "resource/project/icon-text-button.h"

#include "values/screen-scale.h"

#include <QPainter>
#include <QStyleOptionButton>

#include <algorithm>
#include <cmath>

namespace {
constexpr int kPaddingX = 8;
constexpr int kPaddingY = 4;
} // namespace

IconTextButton::IconTextButton(QWidget* parent) : QPushButton(parent) {}

IconTextButton::IconTextButton(const QString& text, QWidget* parent) : QPushButton(text, parent) {}

void IconTextButton::setPixmaps(const QPixmap& normal, const QPixmap& hover, const QPixmap& checked,
                                const QPixmap& disabled) {
    m_normal = normal;
    m_hover = hover;
    m_checked = checked;
    m_disabled = disabled;
    updateGeometry();
    update();
}

void IconTextButton::setIconPosition(int position) {
    m_position = (position >= IconLeft && position <= IconBottom) ? position : IconLeft;
    updateGeometry();
    update();
}

void IconTextButton::setSpacing(int spacing) {
    m_spacing = std::max(0, spacing);
    updateGeometry();
    update();
}

const QPixmap& IconTextButton::currentPixmap() const {
    if (!isEnabled())
        return m_disabled.isNull() ? m_normal : m_disabled;
    if (isChecked())
        return m_checked.isNull() ? m_normal : m_checked;
    if (m_hovered)
        return m_hover.isNull() ? m_normal : m_hover;
    return m_normal;
}

QSize IconTextButton::contentSize() const {
    const QSize text = fontMetrics().size(Qt::TextShowMnemonic, this->text());
    QSize picture = m_normal.isNull() ? QSize(0, 0) : m_normal.size() / m_normal.devicePixelRatio();
    const int gap = (picture.isEmpty() || text.isEmpty()) ? 0 : m_spacing;
    if (m_position == IconTop || m_position == IconBottom)
        return QSize(std::max(picture.width(), text.width()), picture.height() + gap + text.height());
    return QSize(picture.width() + gap + text.width(), std::max(picture.height(), text.height()));
}

QSize IconTextButton::sizeHint() const {
    const QSize content = contentSize() + QSize(2 * kPaddingX, 2 * kPaddingY);
    const double scale = screenDpiScale();
    return QSize(int(std::lround(content.width() * scale)), int(std::lround(content.height() * scale)));
}

void IconTextButton::paintEvent(QPaintEvent* event) {
    Q_UNUSED(event);
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setRenderHint(QPainter::SmoothPixmapTransform);

    // The frame and background as the style (and style sheet) draws them,
    // without the style's own icon and label.
    QStyleOptionButton option;
    initStyleOption(&option);
    option.text.clear();
    option.icon = QIcon();
    style()->drawControl(QStyle::CE_PushButtonBevel, &option, &painter, this);

    const QPixmap& picture = currentPixmap();
    const QSize pictureSize = picture.isNull() ? QSize(0, 0) : picture.size() / picture.devicePixelRatio();
    const QSize textSize = fontMetrics().size(Qt::TextShowMnemonic, text());
    const int gap = (pictureSize.isEmpty() || textSize.isEmpty()) ? 0 : m_spacing;
    const QSize content = contentSize();
    const QRect area = rect();
    const int left = area.left() + (area.width() - content.width()) / 2;
    const int top = area.top() + (area.height() - content.height()) / 2;

    QRect pictureRect, textRect;
    switch (m_position) {
    case IconRight:
        textRect = QRect(QPoint(left, area.top()), QSize(textSize.width(), area.height()));
        pictureRect = QRect(
            QPoint(left + textSize.width() + gap, area.top() + (area.height() - pictureSize.height()) / 2),
            pictureSize);
        break;
    case IconTop:
        pictureRect = QRect(QPoint(area.left() + (area.width() - pictureSize.width()) / 2, top), pictureSize);
        textRect = QRect(QPoint(area.left(), top + pictureSize.height() + gap),
                         QSize(area.width(), textSize.height()));
        break;
    case IconBottom:
        textRect = QRect(QPoint(area.left(), top), QSize(area.width(), textSize.height()));
        pictureRect = QRect(
            QPoint(area.left() + (area.width() - pictureSize.width()) / 2, top + textSize.height() + gap),
            pictureSize);
        break;
    case IconLeft:
    default:
        pictureRect =
            QRect(QPoint(left, area.top() + (area.height() - pictureSize.height()) / 2), pictureSize);
        textRect = QRect(QPoint(left + pictureSize.width() + gap, area.top()),
                         QSize(textSize.width(), area.height()));
        break;
    }
    if (!picture.isNull())
        painter.drawPixmap(pictureRect, picture);
    if (!text().isEmpty()) {
        const QPalette::ColorRole role = QPalette::ButtonText;
        style()->drawItemText(&painter, textRect, Qt::AlignCenter | Qt::TextShowMnemonic, option.palette,
                              isEnabled(), text(), role);
    }
}

void IconTextButton::enterEvent(QEvent* event) {
    m_hovered = true;
    update();
    QPushButton::enterEvent(event);
}

void IconTextButton::leaveEvent(QEvent* event) {
    m_hovered = false;
    update();
    QPushButton::leaveEvent(event);
}
