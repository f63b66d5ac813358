#include "resource/gif-view.h"

#include "media/media.h"
#include "resource/library-common.h"
#include "value/interface.h"
#include "values/screen-scale.h"

#include <QApplication>
#include <QCoreApplication>
#include <QDir>
#include <QDirIterator>
#include <QDrag>
#include <QFileInfo>
#include <QGraphicsSceneMouseEvent>
#include <QMimeData>
#include <QPainter>
#include <QResizeEvent>
#include <QStandardPaths>
#include <QtConcurrent>

#include <algorithm>

namespace resource {

namespace {
constexpr double kGifCell = 55;
constexpr double kGifInset = 8;
} // namespace

QString stickerFolder() {
    const QString app = QCoreApplication::applicationDirPath();
    QStringList candidates{app + QStringLiteral("/gif"),
                           app + QStringLiteral("/../" KORVEL_INSTALL_DATADIR "/korvel/gif"),
                           QStringLiteral(KORVEL_INSTALL_FULL_DATADIR "/korvel/gif")};
    candidates += QStandardPaths::locateAll(QStandardPaths::GenericDataLocation, QStringLiteral("korvel/gif"),
                                            QStandardPaths::LocateDirectory);
    for (const QString& folder : candidates) {
        if (QFileInfo(folder).isDir())
            return QDir::cleanPath(folder);
    }
    LOGW("no sticker folder beside the program (%s/gif) nor installed", qUtf8Printable(app));
    return QString();
}

QStringList stickerFiles(const QString& folder) {
    QStringList files;
    if (folder.isEmpty() || !QFileInfo(folder).isDir())
        return files;
    QDirIterator walk(folder, {QStringLiteral("*.gif"), QStringLiteral("*.GIF")}, QDir::Files,
                      QDirIterator::Subdirectories);
    while (walk.hasNext())
        files.append(QDir::toNativeSeparators(walk.next()));
    std::sort(files.begin(), files.end());
    return files;
}

QVector<QImage> decodeGifFrames(const QString& path) {
    QVector<QImage> frames;
    const QByteArray file = QDir::fromNativeSeparators(path).toUtf8();
    for (int i = 0; i < kGifFrames; ++i) {
        ff::ImageRequest request; // the size of the material previews
        request.position = i * 0.1;
        request.width = 100;
        request.height = 80;
        request.keepAspect = 1;
        const ff::VFramePtr frame = ff::getMovieImage(file.constData(), request, nullptr);
        if (!frame || frame->width <= 0 || frame->height <= 0)
            continue;
        frames.append(
            QImage(frame->data(), frame->width, frame->height, frame->stride, QImage::Format_RGBA8888)
                .copy());
    }
    if (frames.isEmpty())
        LOGW("sticker %s gives no picture", file.constData());
    return frames;
}

} // namespace resource

using namespace resource;

GifItem::GifItem(const QString& path, QGraphicsItem* parent) : QGraphicsObject(parent), m_path(path) {
    setFlag(ItemIsSelectable);
    setAcceptHoverEvents(true);
    setToolTip(QFileInfo(path).completeBaseName());
    m_timer.setInterval(kGifFrameMs);
    m_timer.setTimerType(Qt::CoarseTimer);
    connect(&m_timer, &QTimer::timeout, this, &GifItem::tick);
    connect(&m_watcher, &QFutureWatcherBase::finished, this, &GifItem::takeFrames);
    m_watcher.setFuture(QtConcurrent::run(&decodeGifFrames, path));
}

QImage GifItem::currentImage() const {
    return m_current < m_frames.size() ? m_frames[m_current] : QImage();
}

void GifItem::takeFrames() {
    m_frames = m_watcher.result();
    m_current = 0;
    m_loaded = true;
    update();
    emit sig_framesLoaded();
}

void GifItem::tick() {
    if (m_frames.isEmpty())
        return; // an unreadable file stays blank
    m_current = m_counter % m_frames.size();
    ++m_counter;
    update();
}

QRectF GifItem::boundingRect() const {
    const double s = screenDpiScale();
    return QRectF(-0.5, -0.5, kGifCell * s + 1, kGifCell * s + 1);
}

void GifItem::paint(QPainter* painter, const QStyleOptionGraphicsItem* option, QWidget* widget) {
    Q_UNUSED(option);
    Q_UNUSED(widget);
    const QImage image = currentImage();
    if (image.isNull())
        return;
    const double s = screenDpiScale();
    painter->save();
    painter->setRenderHint(QPainter::SmoothPixmapTransform);
    painter->drawImage(QRectF(kGifInset * s, kGifInset * s, kGifCell * s - 12 * s, kGifCell * s - 12 * s),
                       image);
    painter->restore();
}

void GifItem::mousePressEvent(QGraphicsSceneMouseEvent* event) {
    if (event->button() == Qt::LeftButton)
        m_pressPos = event->scenePos();
    QGraphicsObject::mousePressEvent(event);
}

void GifItem::mouseMoveEvent(QGraphicsSceneMouseEvent* event) {
    if (!(event->buttons() & Qt::LeftButton) ||
        (event->scenePos() - m_pressPos).manhattanLength() <= QApplication::startDragDistance()) {
        QGraphicsObject::mouseMoveEvent(event);
        return;
    }
    const QImage image = currentImage();
    auto* drag = new QDrag(event->widget());
    drag->setMimeData(libraryMimeData(QStringLiteral("gif"), m_path, image));
    if (!image.isNull())
        drag->setPixmap(QPixmap::fromImage(image));
    drag->exec(Qt::MoveAction);
}

void GifItem::hoverEnterEvent(QGraphicsSceneHoverEvent* event) {
    m_counter = 0;
    m_timer.start();
    QGraphicsObject::hoverEnterEvent(event);
}

void GifItem::hoverLeaveEvent(QGraphicsSceneHoverEvent* event) {
    m_timer.stop();
    m_current = 0;
    update();
    QGraphicsObject::hoverLeaveEvent(event);
}

GifScene::GifScene(QObject* parent) : QGraphicsScene(parent) {}

void GifScene::build(const QString& folder) {
    qDeleteAll(m_items);
    m_items.clear();
    for (const QString& file : stickerFiles(folder)) {
        auto* item = new GifItem(file);
        addItem(item);
        m_items.append(item);
    }
    LOGD("stickers: %d in %s", int(m_items.size()), qUtf8Printable(folder));
}

void GifScene::layoutItems(double width) {
    double height = 0;
    const QVector<QPointF> places = flowGrid(m_items.size(), width, stickerFlow(screenDpiScale()), &height);
    for (int i = 0; i < m_items.size(); ++i)
        m_items[i]->setPos(places[i]);
    setSceneRect(0, 0, width, height);
}

GifView::GifView(QWidget* parent, const QString& folder) : QGraphicsView(parent) {
    setObjectName(QStringLiteral("gifView"));
    m_scene = new GifScene(this);
    setScene(m_scene);
    setAlignment(Qt::AlignLeft | Qt::AlignTop);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    m_scene->build(folder.isEmpty() ? stickerFolder() : folder);
    m_scene->layoutItems(viewport()->width());
}

void GifView::resizeEvent(QResizeEvent* event) {
    QGraphicsView::resizeEvent(event);
    m_scene->layoutItems(viewport()->width());
}
