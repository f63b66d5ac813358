#include "timeline/source-item.h"

#include "timeline/classify-item.h"
#include "timeline/source-anchor.h"
#include "timeline/timeline-scene.h"
#include "timeline/waveform-painter.h"
#include "values/media-thumbnail.h"
#include "values/timeline-keys.h"
#include "values/value-init.h"

#include <QDir>
#include <QFileInfo>
#include <QFontMetrics>
#include <QGraphicsSceneMouseEvent>
#include <QPainter>
#include <QStyleOptionGraphicsItem>
#include <QSignalBlocker>

#include <algorithm>
#include <cmath>

SourceItem::SourceItem(SourceType type, ClassifyItem* parent, QGraphicsScene* scene, double width,
                       const QRectF& previewRect, const QString& path, const QString& uuid,
                       int64_t originalDuration, double offsetPx, const QRect& clipRect)
    : SourceData(type, parent, scene, width, previewRect, path, uuid, originalDuration, offsetPx, clipRect),
      m_home(scene), m_displayName(QFileInfo(path).fileName()), m_shownWidth(width), m_shownOffset(offset()),
      m_left(new SourceAnchor(true, this)), m_right(new SourceAnchor(false, this)) {
    // The extended option tells paint() which part is exposed: a long
    // clip's waveform is drawn only there.
    setFlags(ItemIsSelectable | ItemUsesExtendedStyleOption);
    setOpacity(0.8);
    setAcceptHoverEvents(true);
    setVisible(false); // shown when it enters a track
    // A transition's zones drawn on the clip follow its length and alignment
    // at once (the old zone stayed until something else repainted).
    connect(this, &SourceData::sig_transTimeChanged, this, [this] { update(); });
    if (!path.isEmpty()) {
        const QString thumb = thumbnailPath(path);
        if (QFileInfo::exists(thumb))
            m_thumbnail.load(thumb);
    }
    placeAnchors();
    // The library makes the thumbnail in the background, often after the clip is drawn.
    connect(MediaThumbnails::instance(), &MediaThumbnails::sig_written, this, [this](const QString& media) {
        if (media == SourceData::path() && m_thumbnail.load(thumbnailPath(media)))
            update();
    });
    // The waveform is asked for when the clip is first drawn; it arrives later.
    connect(WaveformCache::instance(), &WaveformCache::sig_peaksReady, this, [this](const QString& media) {
        if (m_peaksAsked && !m_peaks && media == SourceData::path()) {
            m_peaks = WaveformCache::instance()->peaks(media);
            update();
        }
    });
    // Every applied value (an edit, an undo, a redo) refreshes the open panel.
    connect(this, &SourceData::sig_valueApplied, this, [this](const QString& key) {
        // The waveform is drawn at the clip's volume; a subtitle's clip
        // shows its text (also when an undo or redo brings it back).
        if (key == QLatin1String(tlkey::Volume) || key == QLatin1String(tlkey::Mute) ||
            key == QLatin1String(tlkey::Content))
            update();
        TimeLineGraphicsScene* tl = timelineScene();
        if (tl && tl->menuItem() == static_cast<const QGraphicsItem*>(this))
            tl->showMenu(this, menuType(), -1, panelMap());
    });
}

MenuType SourceItem::menuType() const {
    switch (SourceData::type()) {
    case SourceVideo: return MenuVideo;
    case SourceDub: return MenuDub;
    case SourceSubtitle: return MenuSubtitle;
    case SourceAudio: return MenuAudio;
    default: return MenuPicture;
    }
}

SourceItem::~SourceItem() {
    // Leave the scene while still a whole SourceItem, so that its state forgets it.
    // A clip in the scene dies only with its model: nobody is told of the
    // selection it takes along (listeners may be half destroyed).
    if (QGraphicsScene* s = scene()) {
        if (auto* tl = qobject_cast<TimeLineGraphicsScene*>(s))
            tl->forgetClip(this);
        const QSignalBlocker quiet(s);
        s->removeItem(this);
    }
    // Handles on the clip go with it as its children.
    for (SourceAnchor* handle : {m_left, m_right}) {
        if (handle->parentItem() != this)
            delete handle;
    }
}

QString SourceItem::thumbnailPath(const QString& mediaPath) {
    return existingMediaThumbnailPath(mediaPath);
}

bool SourceItem::showsWaveform() const {
    const SourceType kind = SourceData::type();
    return valid() && !path().isEmpty() && (kind == SourceAudio || kind == SourceDub || kind == SourceVideo);
}

void SourceItem::paintWaveform(QPainter* painter, const QStyleOptionGraphicsItem* option, double sx, double w,
                               double h) {
    if (!showsWaveform())
        return;
    if (!m_peaksAsked) {
        m_peaksAsked = true;
        m_peaks = WaveformCache::instance()->peaks(path());
    }
    if (!m_peaks)
        return;
    WaveformLook look;
    look.area = QRectF(0, 3, w, h - 5);
    // Only the exposed columns: a long clip at a close zoom is mostly off screen.
    const QRectF exposed =
        option && !option->exposedRect.isEmpty() ? option->exposedRect : QRectF(0, 0, m_shownWidth, h);
    look.firstColumn = exposed.left() * sx;
    look.lastColumn = exposed.right() * sx;
    const double pixelsPerSecond = timeline::frameWidth() * sx * 30.0;
    look.secondsPerPixel = 1.0 / pixelsPerSecond;
    look.mediaSecondsAtLeft = double(m_shownOffset) / 30.0;
    look.gain = mute() ? 0.0 : std::min(2.0, double(volume()) / 128.0);
    const QColor fill = fillColor();
    look.colour = look.gain > 0 ? fill.darker(165) : fill.darker(120);
    look.twoLaneHeight = 60 * timeline::dpiScale();
    ::paintWaveform(painter, *m_peaks, look);
}

TimeLineGraphicsScene* SourceItem::timelineScene() const {
    return qobject_cast<TimeLineGraphicsScene*>(m_home.data());
}

double SourceItem::rowHeightPx() const {
    return timeline::rowHeight(SourceData::type() == SourceVideo ? SourceVideo : SourcePicture);
}

QRectF SourceItem::boundingRect() const {
    return QRectF(0.5, 1.5, m_shownWidth - 0.5, rowHeightPx() - 0.5);
}

QPainterPath SourceItem::shape() const {
    QPainterPath path;
    path.addRect(QRectF(0, 0, m_shownWidth, rowHeightPx()));
    return path;
}

QColor SourceItem::fillColor() const {
    if (!valid())
        return QColor(Qt::gray);
    switch (SourceData::type()) {
    case SourceVideo:
    case SourcePicture:
        return QColor(m_hover ? "#3A8CF0" : "#5FA5F9");
    case SourceAudio:
    case SourceDub:
        return QColor(m_hover ? "#8574F8" : "#ABA0FB");
    case SourceSubtitle:
        return QColor(m_hover ? "#49A003" : "#7BB54E");
    default:
        return QColor("#EBEBEB");
    }
}

namespace {
// Zones lie in the middle half of a 36-high row.
QRectF zone(double x, double frames) {
    const double s = timeline::dpiScale();
    return QRectF(x, 9 * s, frames * timeline::frameWidth(), 18 * s);
}
} // namespace

QRectF SourceItem::startZone() const {
    if (toTransFrames() <= 0)
        return QRectF();
    QRectF r = zone(0, double(toTransFrames()));
    r.setWidth(std::min(r.width(), m_shownWidth));
    return r;
}

QRectF SourceItem::endZone() const {
    if (fromTransFrames() <= 0)
        return QRectF();
    const double w = std::min(double(fromTransFrames()) * timeline::frameWidth(), m_shownWidth);
    return zone(m_shownWidth - w, 0).adjusted(0, 0, w, 0);
}

void SourceItem::paint(QPainter* painter, const QStyleOptionGraphicsItem* option, QWidget*) {
    painter->save();
    // Text and thumbnails keep their size at every zoom: draw in screen units.
    const double sx = std::abs(painter->worldTransform().m11()) > 1e-9 ? std::abs(painter->worldTransform().m11())
                                                                        : 1.0;
    painter->scale(1.0 / sx, 1.0);
    const double w = m_shownWidth * sx; // on-screen width
    const double h = rowHeightPx();
    const QRectF box(0.5 * sx, 1.5, w - 0.5 * sx, h - 0.5);

    painter->setPen(Qt::NoPen);
    painter->fillRect(box, fillColor());
    paintWaveform(painter, option, sx, w, h);

    QPen pen(Qt::white);
    pen.setWidthF(2.0);
    painter->setPen(pen);
    QFont font = painter->font();
    font.setPointSize(12);
    painter->setFont(font);

    if (valid()) {
        const QString label = path().isEmpty() ? content() : m_displayName;
        const QFont labelFont(QStringLiteral("Microsoft Yahei"), 8);
        painter->setFont(labelFont);
        const QFontMetrics fm(labelFont);
        double textX = 10;
        if (!m_thumbnail.isNull()) {
            const QImage thumb = m_thumbnail.scaledToHeight(std::max(1, int(h - 5)), Qt::SmoothTransformation);
            const double shown = std::max(0.0, std::min(double(thumb.width()), w - 10));
            if (shown > 0)
                painter->drawImage(QRectF(5, 2, shown, thumb.height()), thumb, QRectF(0, 0, shown, thumb.height()));
            textX = thumb.width() + 10;
        }
        const int room = int(w - textX);
        if (room > 0) {
            const QString text = fm.elidedText(label, Qt::ElideRight, room);
            painter->drawText(QRectF(textX, 0, room, h), Qt::AlignLeft | Qt::AlignVCenter, text);
        }
    }

    painter->setPen(Qt::NoPen);
    for (const QRectF& z : {startZone(), endZone()}) {
        if (!z.isEmpty())
            painter->fillRect(QRectF(z.x() * sx, z.y(), z.width() * sx, z.height()), Qt::red);
    }

    if (isSelected()) {
        QPen outline(QColor("#f38b00"));
        outline.setWidthF(2.0);
        painter->setPen(outline);
        painter->setBrush(Qt::NoBrush);
        painter->drawRect(box.adjusted(1, 1, -1, -1));
    }

    if (!valid()) {
        painter->setPen(pen);
        const QFontMetrics fm(painter->font());
        const int room = int(w - 10);
        if (room > 0) {
            const QString text = fm.elidedText(tr("invalidsource.FileMiss"), Qt::ElideRight, room);
            painter->drawText(QRectF(10, 0, room, h), Qt::AlignLeft | Qt::AlignVCenter, text);
        }
    }
    painter->restore();
}

void SourceItem::placeAnchors() {
    m_left->setPos(0, 0);
    m_right->setPos(m_shownWidth, 0);
}

void SourceItem::showTrim(double x, double width, int64_t offset) {
    if (width != m_shownWidth) {
        prepareGeometryChange();
        m_shownWidth = width;
    }
    m_shownOffset = offset;
    setPos(x, pos().y());
    placeAnchors();
    update();
}

void SourceItem::sceneAttach(bool shown) {
    TimeLineGraphicsScene* tl = timelineScene();
    if (shown) {
        if (m_home && scene() != m_home)
            m_home->addItem(this);
        setVisible(trackShown());
        // The length follows when the clip is placed (scenePlace), not
        // before: a clip not yet sized would shorten the timeline for a
        // moment and pull the play head back with it.
        if (tl)
            tl->rememberClip(this);
    } else {
        setVisible(false);
        if (tl)
            tl->forgetClip(this);
        if (scene())
            scene()->removeItem(this);
        if (tl)
            tl->updateLength();
    }
}

void SourceItem::scenePlace(double x, double y) {
    if (m_shownWidth != width()) {
        prepareGeometryChange();
        m_shownWidth = width();
        placeAnchors();
    }
    m_shownOffset = offset();
    setPos(x, y);
    if (scene())
        setVisible(trackShown()); // it may have changed track
    update();
    if (TimeLineGraphicsScene* tl = timelineScene())
        tl->clipPlaced(this, x + m_shownWidth);
}

bool SourceItem::trackShown() const {
    const ClassifyItem* track = parentTrack();
    if (!track || track->isHeader())
        return true;
    const ClassifyItem* header = track->parentItem();
    return !header || header->expanded();
}

void SourceItem::placeOnTrack() {
    const ClassifyItem* track = parentTrack();
    if (!track || !scene())
        return;
    const bool shown = trackShown();
    if (shown)
        setPos(pos().x(), track->rowTop());
    setVisible(shown);
}

void SourceItem::sceneWidthChanged(double w) {
    prepareGeometryChange();
    m_shownWidth = w;
    placeAnchors();
    update();
}

void SourceItem::sceneMediaChanged() {
    m_displayName = QFileInfo(path()).fileName();
    m_peaks = nullptr;
    m_peaksAsked = false;
    m_thumbnail = QImage();
    const QString thumb = thumbnailPath(path());
    if (QFileInfo::exists(thumb))
        m_thumbnail.load(thumb);
    update();
}

QVariant SourceItem::itemChange(GraphicsItemChange change, const QVariant& value) {
    if (change == ItemSelectedHasChanged) {
        const bool selected = value.toBool();
        m_left->attach(selected);
        m_right->attach(selected);
        LOGD("selectChangePreivewItem source: %s", uuid().toUtf8().constData());
        if (TimeLineGraphicsScene* tl = timelineScene())
            emit tl->sig_clipSelectionChanged(this, selected);
    }
    return QGraphicsItem::itemChange(change, value);
}

void SourceItem::mousePressEvent(QGraphicsSceneMouseEvent* event) {
    const bool multi = event->modifiers() & Qt::ControlModifier;
    if (event->button() == Qt::LeftButton) {
        // Ctrl toggles on release (Qt's default); a plain press on an
        // unselected clip selects only it, on a selected one keeps the group for a drag.
        if (!multi && !isSelected()) {
            if (scene())
                scene()->clearSelection();
            setSelected(true);
        }
        clicked(event->pos(), 1);
        event->accept();
    } else if (event->button() == Qt::RightButton) {
        if (!isSelected()) {
            if (scene())
                scene()->clearSelection();
            setSelected(true);
        }
        event->accept();
    } else {
        event->ignore();
    }
}

void SourceItem::mouseDoubleClickEvent(QGraphicsSceneMouseEvent* event) {
    if (event->button() == Qt::LeftButton)
        clicked(event->pos(), 2);
    event->accept();
}

void SourceItem::hoverEnterEvent(QGraphicsSceneHoverEvent*) {
    m_hover = true;
    update();
}

void SourceItem::hoverLeaveEvent(QGraphicsSceneHoverEvent*) {
    m_hover = false;
    update();
}

void SourceItem::showPanel(int clicked) {
    if (TimeLineGraphicsScene* tl = timelineScene())
        tl->showMenu(this, menuType(), clicked, panelMap());
}

void SourceItem::clicked(const QPointF& pos, int times) {
    TimeLineGraphicsScene* tl = timelineScene();
    if (startZone().contains(pos)) {
        emit sig_transLeftClicked(times, this);
    } else if (endZone().contains(pos)) {
        emit sig_transRightClicked(times, this);
    } else {
        showPanel(times);
    }
    if (tl) {
        const double fw = timeline::frameWidth();
        const auto frame = int64_t(std::round(x() / fw) + pos.x() / fw);
        emit tl->sig_resetFrame(frame, 0, true);
    }
}
