// The sticker page of the library: one item per animated GIF in the sticker
// folder, animated while the pointer is over it and dragged onto the
// timeline as a picture clip. GUI thread only, except decodeGifFrames.
#pragma once

#include <QFutureWatcher>
#include <QGraphicsObject>
#include <QGraphicsScene>
#include <QGraphicsView>
#include <QImage>
#include <QPointF>
#include <QString>
#include <QTimer>
#include <QVector>

namespace resource {
// Frames a sticker shows: pictures at 0, 10, ... 100 % of its length.
constexpr int kGifFrames = 11;
constexpr int kGifFrameMs = 100;

// The folder the stickers ship in: "gif" beside the program, else the
// installed data folder; empty (logged) when neither exists.
QString stickerFolder();
// Every "*.gif" file under folder, subfolders included, with native
// separators, sorted so the page keeps one order; empty for a missing folder.
QStringList stickerFiles(const QString& folder);
// Decodes up to kGifFrames pictures of the file (100 x 80 at most) as RGBA
// copies; a file the decoder cannot read gives none (logged). Slow: runs on
// a worker thread; touches no QObject.
QVector<QImage> decodeGifFrames(const QString& path);
} // namespace resource

class GifItem : public QGraphicsObject {
    Q_OBJECT
public:
    // Starts decoding the frames on the global thread pool; they arrive
    // later on the GUI thread (sig_framesLoaded). The item may be deleted
    // before that: the result is then dropped.
    explicit GifItem(const QString& path, QGraphicsItem* parent = nullptr);

    const QString& path() const { return m_path; }
    const QVector<QImage>& frames() const { return m_frames; }
    bool framesLoaded() const { return m_loaded; }
    // The frame painted now; null while there is none.
    QImage currentImage() const;
    int currentFrame() const { return m_current; }
    bool animating() const { return m_timer.isActive(); }

    QRectF boundingRect() const override;
    void paint(QPainter* painter, const QStyleOptionGraphicsItem* option, QWidget* widget) override;

signals:
    // The decode has finished, with or without frames.
    void sig_framesLoaded();

protected:
    void mousePressEvent(QGraphicsSceneMouseEvent* event) override;
    // Starts the drag (modal until it ends) once the press has moved far enough.
    void mouseMoveEvent(QGraphicsSceneMouseEvent* event) override;
    // Entering starts the 100 ms animation from frame 0; leaving stops it
    // and shows the first frame again.
    void hoverEnterEvent(QGraphicsSceneHoverEvent* event) override;
    void hoverLeaveEvent(QGraphicsSceneHoverEvent* event) override;

private:
    void takeFrames();
    void tick();

    QString m_path;
    QVector<QImage> m_frames;
    int m_current = 0; // index into m_frames
    int m_counter = 0; // ticks since the pointer entered
    bool m_loaded = false;
    QTimer m_timer;
    QFutureWatcher<QVector<QImage>> m_watcher;
    QPointF m_pressPos; // scene position of the last left press
};

// Owns its items, one per sticker file.
class GifScene : public QGraphicsScene {
    Q_OBJECT
public:
    explicit GifScene(QObject* parent = nullptr);

    // Replaces the items by one per sticker file under folder.
    void build(const QString& folder);
    const QList<GifItem*>& gifItems() const { return m_items; }
    // Places the items in rows for a view width wide (scene units) and sizes the scene.
    void layoutItems(double width);

private:
    QList<GifItem*> m_items;
};

// Owns its scene, built from the sticker folder; lays it out again on every resize.
class GifView : public QGraphicsView {
    Q_OBJECT
public:
    // folder: where the stickers are; empty means stickerFolder().
    explicit GifView(QWidget* parent = nullptr, const QString& folder = QString());

    GifScene* gifScene() const { return m_scene; }

protected:
    void resizeEvent(QResizeEvent* event) override;

private:
    GifScene* m_scene = nullptr;
};
