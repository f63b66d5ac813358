#include "timeline/timeline-view.h"

#include "timeline/classify-item.h"
#include "timeline/source-data.h"
#include "timeline/source-item.h"
#include "timeline/subtitle-import.h"
#include "timeline/timeline-scene.h"
#include "timeline/timeline-tree-model.h"
#include "values/timeline-keys.h"
#include "timeline/transition-data.h"
#include "render/preview-item.h"
#include "undo/undo-controller.h"
#include "values/value-init.h"
#include "value/interface.h"

#include <QDataStream>
#include <QDragEnterEvent>
#include <QMimeData>

#include <QContextMenuEvent>
#include <QKeyEvent>
#include <QMenu>
#include <QDir>
#include <QMessageBox>
#include <QPainter>
#include <QPushButton>
#include <QScrollBar>
#include <QTimer>
#include <QUndoCommand>
#include <QWheelEvent>

#include <algorithm>
#include <cmath>

namespace tlview {

const std::array<double, kMaxZoom + 1>& zoomScales() {
    // Each level is built from the one before, so every level has one scale
    // however often the zoom goes back and forth.
    static const std::array<double, kMaxZoom + 1> scales = [] {
        std::array<double, kMaxZoom + 1> s{};
        s[0] = 1.0;
        for (int level = 1; level <= kMaxZoom; ++level) {
            const int step = level - 1;
            const double factor = step <= 6 ? 0.8 : (step <= 14 ? 0.64 : 0.5);
            s[size_t(level)] = s[size_t(step)] * factor;
        }
        return s;
    }();
    return scales;
}

} // namespace tlview

CopyData TimeLineGraphicsView::s_copyData;

namespace {

// The step the next undo takes back; null when there is none.
const QUndoCommand* topUndoStep() {
    const QUndoStack& stack = zya::UndoController::instance()->stack;
    return stack.index() > 0 ? stack.command(stack.index() - 1) : nullptr;
}

} // namespace

TimeLineGraphicsView::TimeLineGraphicsView(TimeLineGraphicsScene* scene, QWidget* parent)
    : QGraphicsView(scene, parent), m_scene(scene) {
    setRenderHint(QPainter::Antialiasing);
    setRenderHint(QPainter::SmoothPixmapTransform);
    setAlignment(Qt::AlignLeft | Qt::AlignTop);
    setFocusPolicy(Qt::StrongFocus);
    applyZoom();
    connect(scene, &QGraphicsScene::selectionChanged, this, &TimeLineGraphicsView::slot_selectionChanged);
    connect(scene, &TimeLineGraphicsScene::sig_resetFrame, this,
            [this](qint64 frame, int mode, bool notify) { slot_resetFrame(frame, EditType(mode), notify); });
}

TimeLineTreeModel* TimeLineGraphicsView::model() const {
    return m_scene ? m_scene->model() : nullptr;
}

double TimeLineGraphicsView::horizontalScale() const {
    return transform().m11();
}

double TimeLineGraphicsView::playHeadX() const {
    return timeline::frameToPixel(m_frames.frame());
}

int64_t TimeLineGraphicsView::totalFrames() const {
    return timeline::pixelToFrame(m_scene->length());
}

FrameDispatcher* TimeLineGraphicsView::frames() {
    m_frames.setModel(model());
    return &m_frames;
}

void TimeLineGraphicsView::applyZoom() {
    // An absolute transform: repeated steps cannot drift.
    setTransform(QTransform::fromScale(tlview::zoomScales()[size_t(m_zoom)], 1.0));
}

void TimeLineGraphicsView::setZoomLevel(int level) {
    level = std::clamp(level, tlview::kMinZoom, tlview::kMaxZoom);
    while (m_zoom != level)
        slot_scaleStepView(level < m_zoom);
}

void TimeLineGraphicsView::slot_scaleStepView(bool positive) {
    if (positive ? m_zoom <= tlview::kMinZoom : m_zoom >= tlview::kMaxZoom)
        return;
    m_zoom += positive ? -1 : 1;
    applyZoom();
    const QRectF visible = mapToScene(viewport()->rect()).boundingRect();
    int middle = int(std::ceil(visible.center().y()));
    middle += middle % 2;
    centerOn(playHeadX(), middle);
    emit sig_scaleValue(m_zoom, horizontalScale(), horizontalScrollBar()->value());
}

void TimeLineGraphicsView::slot_resetFrame(int64_t pix, EditType edit, bool operate) {
    m_frames.setFrame(pix);
    if (m_frames.frame() == 0)
        horizontalScrollBar()->setValue(0);
    // The ruler's marker goes along (a click on a clip moves the play head).
    emit sig_moveValue(horizontalScrollBar()->value(), playHeadX());
    viewport()->update();
    if (operate)
        requestFrame(playHeadFrame(), 30, edit);
}

void TimeLineGraphicsView::slot_viewportRangeUpdate(int value, int64_t pix) {
    m_frames.setFrame(pix);
    horizontalScrollBar()->setValue(value);
    viewport()->update();
    requestFrame(playHeadFrame(), 30, EditManual);
}

void TimeLineGraphicsView::slot_frontFrameRequest(MoveType type, EditType edit, int64_t times, int64_t fps) {
    const double fromX = playHeadX();
    int64_t frame = m_frames.frame() + times;
    if (edit == EditRecording) {
        // The timeline grows with the recording, one frame ahead of the
        // play head, so that the head never stops at the old end.
        m_scene->slot_extendLength(timeline::frameToPixel(frame + 1));
    }
    m_frames.setFrame(std::min(frame, std::max<int64_t>(0, totalFrames() - 1)));
    moveRequest(type, edit, fps, fromX);
}

void TimeLineGraphicsView::slot_backFrameRequest(MoveType type, EditType edit, int64_t times, int64_t fps) {
    const double fromX = playHeadX();
    m_frames.setFrame(m_frames.frame() - times);
    moveRequest(type, edit, fps, fromX);
}

void TimeLineGraphicsView::updatePlayHeadStrip(double sceneX) {
    const int x = mapFromScene(QPointF(sceneX, 0)).x();
    viewport()->update(QRect(x - 3, 0, 7, viewport()->height()));
}

void TimeLineGraphicsView::moveRequest(MoveType type, EditType edit, int64_t fps, double fromX) {
    // Playback moves the head every frame: only the strips it leaves and
    // reaches are painted again, not every clip in view. A take being
    // recorded grows its mark behind the head, and a scroll moves it all.
    const int scroll = horizontalScrollBar()->value();
    keepPlayHeadInView(type);
    if (m_recording || horizontalScrollBar()->value() != scroll) {
        viewport()->update();
    } else {
        updatePlayHeadStrip(fromX);
        updatePlayHeadStrip(playHeadX());
    }
    const int64_t frame = playHeadFrame();
    if (model())
        emit sig_deliverAudio(frames()->soundAt(frame, fps), frame, fps, totalFrames(), edit);
    requestFrame(frame, fps, edit);
}

void TimeLineGraphicsView::jumpTo(int64_t frame) {
    // As a click on the ruler: playback and recording stop first.
    emit sig_opertorUi(true, true);
    slot_resetFrame(std::clamp<int64_t>(frame, 0, std::max<int64_t>(0, totalFrames() - 1)), EditManual, true);
    keepPlayHeadInView(MoveStep);
}

void TimeLineGraphicsView::jumpToEnd(bool last) {
    jumpTo(last ? totalFrames() - 1 : 0);
}

void TimeLineGraphicsView::jumpToEditPoint(bool forward) {
    const int64_t here = playHeadFrame();
    const int64_t lastFrame = std::max<int64_t>(0, totalFrames() - 1);
    int64_t best = forward ? lastFrame : 0;
    const auto consider = [&](int64_t point) {
        point = std::min(point, lastFrame);
        if (forward && point > here && point < best)
            best = point;
        else if (!forward && point < here && point > best)
            best = point;
    };
    if (TimeLineTreeModel* m = model()) {
        for (const SourceData* clip : m->allSources()) {
            consider(clip->startFrame());
            consider(clip->endFrame());
        }
    }
    if (best != here)
        jumpTo(best);
}

void TimeLineGraphicsView::keepPlayHeadInView(MoveType type) {
    QScrollBar* bar = horizontalScrollBar();
    const double x = playHeadX() * horizontalScale(); // viewport pixels from the scene's start
    const int width = viewport()->width();
    const int scroll = bar->value();
    if (type == MoveStep) {
        if (x - scroll > width - tlview::kEdgeMargin)
            bar->setValue(std::min(bar->maximum(), int(std::lround(x)) - width + tlview::kEdgeMargin));
        else if (x - scroll < tlview::kEdgeMargin && scroll != 0)
            bar->setValue(std::max(0, int(std::lround(x)) - tlview::kEdgeMargin));
    } else if (x - scroll > width - tlview::kEdgeMargin) {
        bar->setValue(std::min(bar->maximum(), int(std::lround(x)) - tlview::kEdgeMargin));
    }
    emit sig_moveValue(bar->value(), playHeadX());
}

void TimeLineGraphicsView::requestFrame(int64_t frame, int64_t fps, EditType edit) {
    Q_UNUSED(fps);
    Q_UNUSED(edit);
    // Also while the timeline is hidden (a full-screen preview) and so not
    // painted: the preview's time and its Play go by it.
    emit sig_showTime(frame, totalFrames());
    emit sig_splitButtonEnable(splitEnabled());
    frames()->requestPictures(frame);
}

void TimeLineGraphicsView::slot_startExportPrepare() {
    frames()->beginExport();
}

void TimeLineGraphicsView::slot_stopExportPrepare() {
    frames()->endExport();
    // The preview shows the play head's frame again rather than staying blank.
    requestFrame(playHeadFrame(), 30, EditManual);
}

void TimeLineGraphicsView::slot_audioSourceItem(bool start, QString path, bool error) {
    TimeLineTreeModel* m = model();
    if (!m)
        return;
    if (start) {
        const int64_t frame = playHeadFrame();
        ClassifyItem* header = m->header(SourceDub);
        if (!header)
            return;
        ClassifyItem* row = nullptr;
        QList<ClassifyItem*> rows {header};
        rows.append(header->children());
        for (ClassifyItem* track : rows) {
            const QList<SourceData*> clips = track->sources();
            if (std::all_of(clips.begin(), clips.end(),
                            [frame](const SourceData* c) { return c->endFrame() <= frame; })) {
                row = track;
                break;
            }
        }
        m_recordTrackStep = nullptr;
        m_recordTrack = nullptr;
        if (!row) {
            // The recording that asks for the track goes on.
            const QUndoCommand* before = topUndoStep();
            row = m->addTrack(header, -1, false);
            if (!row)
                return;
            if (topUndoStep() != before) {
                m_recordTrackStep = topUndoStep();
                m_recordTrack = row;
            }
            LOGD("NewItem: %f", m->trackTop(row));
        }
        m_recording = true;
        m_recordX = playHeadX();
        m_recordY = m->trackTop(row);
        viewport()->update();
        return;
    }
    const bool wasRecording = m_recording;
    m_recording = false;
    viewport()->update();
    if (wasRecording && !path.isEmpty()) {
        bg::ValueMap map;
        map["path"] = bg::Value(path.toStdString());
        map["posY"] = bg::Value(int(std::lround(m_recordY)) - verticalScrollBar()->value() + 18);
        map["posX"] = bg::Value(m_recordX);
        map["type"] = bg::Value(int(SourceDub));
        emit sig_createSourceItem(map, QColor(), QFont());
    } else if (wasRecording && m_recordTrackStep) {
        // Nothing was recorded (no microphone): the row added for it is
        // undone rather than left behind empty, once the edit that stopped
        // the recording (if one did) is done, and only while adding it is
        // still the last step and the row still empty.
        QTimer::singleShot(0, this, [step = m_recordTrackStep, track = m_recordTrack] {
            if (track && track->sources().isEmpty() && topUndoStep() == step) {
                LOGD("record: nothing recorded; the Dub row added for it is undone");
                zya::UndoController::instance()->stack.undo();
            }
        });
    }
    m_recordTrackStep = nullptr;
    m_recordTrack = nullptr;
    if (error) {
        // A microphone lost during the take leaves what it gave on the timeline.
        const QString text = path.isEmpty() ? tr("pre_form.Recordcontent")
                                            : tr("record.MicrophoneLost").arg(QDir::toNativeSeparators(path));
        auto* box = new QMessageBox(QMessageBox::NoIcon, tr("pre_form.RecordHint"), text, QMessageBox::Ok, this);
        box->button(QMessageBox::Ok)->setText(tr("pre_form.Ok"));
        box->setAttribute(Qt::WA_DeleteOnClose);
        box->open();
    }
}

void TimeLineGraphicsView::slot_recordCutShort(const QString& path) {
    const QString text = path.isEmpty() ? tr("record.NothingWritten")
                                        : tr("record.CutShort").arg(QDir::toNativeSeparators(path));
    auto* box = new QMessageBox(QMessageBox::NoIcon, tr("pre_form.RecordHint"), text, QMessageBox::Ok, this);
    box->setObjectName(QStringLiteral("recordCutShort"));
    box->button(QMessageBox::Ok)->setText(tr("pre_form.Ok"));
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->open();
}

QList<SourceData*> TimeLineGraphicsView::selectedClips() const {
    QList<SourceData*> clips;
    for (QGraphicsItem* item : m_scene->selectedItems()) {
        if (auto* clip = dynamic_cast<SourceItem*>(item))
            clips.append(clip);
    }
    return clips;
}

bool TimeLineGraphicsView::splitEnabled() const {
    const QList<SourceData*> clips = selectedClips();
    return clips.size() == 1 && clips.first()->covers(playHeadFrame());
}

void TimeLineGraphicsView::slot_selectionChanged() {
    const QList<SourceData*> clips = selectedClips();
    m_selectionOrder.erase(std::remove_if(m_selectionOrder.begin(), m_selectionOrder.end(),
                                          [&](SourceData* c) { return !clips.contains(c); }),
                           m_selectionOrder.end());
    for (SourceData* clip : clips) {
        if (!m_selectionOrder.contains(clip))
            m_selectionOrder.append(clip);
    }
    emit sig_editButtonEnable(m_scene->selectedItems().size() == 1);
    emit sig_splitButtonEnable(splitEnabled());
}

void TimeLineGraphicsView::slot_removeSourceItem() {
    const QList<SourceData*> clips = selectedClips();
    if (clips.isEmpty()) {
        // Not modal-blocking: the key press that queued this call has returned already.
        auto* box = new QMessageBox(QMessageBox::NoIcon, tr("timeline-manage.Hint"),
                                    tr("timeline-manage.SelectClear"), QMessageBox::Ok, this);
        box->button(QMessageBox::Ok)->setText(tr("timeline-manage.Ok"));
        box->setAttribute(Qt::WA_DeleteOnClose);
        box->open();
        emit sig_nothingSelected();
        return;
    }
    if (TimeLineTreeModel* m = model()) {
        zya::UndoController* undo = zya::UndoController::instance();
        undo->beginMergeSequence(QStringLiteral("remove sourceItems"));
        m->removeSources(clips);
        undo->endMergeSequence();
    }
    m_selectionOrder.clear();
}

void TimeLineGraphicsView::copySelected() {
    TimeLineTreeModel* m = model();
    // The newest of the current selection.
    SourceData* clip = nullptr;
    const QList<SourceData*> clips = selectedClips();
    for (SourceData* c : m_selectionOrder) {
        if (clips.contains(c))
            clip = c;
    }
    if (!clip && !clips.isEmpty())
        clip = clips.last();
    ClassifyItem* track = clip && m ? m->trackOf(clip) : nullptr;
    if (!track)
        return;
    m->setCopyBuffer(clip);
    s_copyData.type = uint32_t(clip->type());
    s_copyData.row = track->isHeader() ? -1 : track->row();
    LOGD("s_copyData.type: %u", s_copyData.type);
    LOGD("s_copyData.row: %d", s_copyData.row);
}

void TimeLineGraphicsView::pasteAtPlayHead() {
    TimeLineTreeModel* m = model();
    if (!m || s_copyData.type == 0)
        return;
    ClassifyItem* header = m->header(s_copyData.type);
    if (!header)
        return;
    ClassifyItem* track = header;
    if (s_copyData.row >= 0 && s_copyData.row < header->children().size())
        track = header->children().at(s_copyData.row);
    m->paste(track, playHeadFrame());
}

void TimeLineGraphicsView::keyPressEvent(QKeyEvent* event) {
    if (event->key() == Qt::Key_Delete) {
        QMetaObject::invokeMethod(this, &TimeLineGraphicsView::slot_removeSourceItem, Qt::QueuedConnection);
    } else if (event->modifiers() & Qt::ControlModifier) {
        if (event->key() == Qt::Key_C) {
            LOGD("event->key(): Ctrl + C");
            copySelected();
        } else if (event->key() == Qt::Key_V) {
            LOGD("event->key(): Ctrl + V");
            pasteAtPlayHead();
        } else if (event->key() == Qt::Key_X && selectedClips().size() == 1) {
            // Cut: copied, then removed as Delete removes. One clip only, as
            // the copy holds one.
            copySelected();
            QMetaObject::invokeMethod(this, &TimeLineGraphicsView::slot_removeSourceItem, Qt::QueuedConnection);
        }
    }
    QGraphicsView::keyPressEvent(event);
}

QMenu* TimeLineGraphicsView::contextMenuFor(SourceItem* clip, const QPointF& scenePos) {
    auto* menu = new QMenu(this);
    if (m_scene->selectedItems().size() > 1) {
        menu->addAction(tr("track-view.Edit"))->setEnabled(false);
        menu->addAction(tr("track-view.UpLevel"))->setEnabled(false);
        menu->addAction(tr("track-view.DownLevel"))->setEnabled(false);
        connect(menu->addAction(tr("track-view.Delete")), &QAction::triggered, this,
                &TimeLineGraphicsView::slot_removeSourceItem);
        return menu;
    }
    QPointer<SourceItem> guard(clip);
    const QPointF pos = clip->mapFromScene(scenePos);
    const bool startZone = clip->startZone().contains(pos);
    if (startZone || clip->endZone().contains(pos)) {
        connect(menu->addAction(tr("track-view.EditTrans")), &QAction::triggered, this, [guard, pos] {
            if (guard)
                guard->clicked(pos, 2);
        });
        connect(menu->addAction(tr("track-view.DeleteTrans")), &QAction::triggered, this,
                [this, guard, startZone] {
                    TimeLineTreeModel* tm = model();
                    if (!guard || !tm)
                        return;
                    // The start zone belongs to the transition into the clip, the end zone to the one out of
                    // it.
                    for (TransitionObject* t : tm->transitions()) {
                        const SourceData* side = startZone ? t->data()->to() : t->data()->from();
                        if (side == guard.data()) {
                            tm->removeTransition(t);
                            break;
                        }
                    }
                });
        return menu;
    }
    connect(menu->addAction(tr("track-view.Edit")), &QAction::triggered, this, [guard, pos] {
        if (guard)
            guard->clicked(pos, 2);
    });
    connect(menu->addAction(tr("track-view.UpLevel")), &QAction::triggered, this, [this, guard] {
        if (guard && model())
            model()->levelSource(guard, playHeadFrame(), true);
    });
    connect(menu->addAction(tr("track-view.DownLevel")), &QAction::triggered, this, [this, guard] {
        if (guard && model())
            model()->levelSource(guard, playHeadFrame(), false);
    });
    connect(menu->addAction(tr("track-view.copy")), &QAction::triggered, this, [this, guard] {
        if (guard && model())
            model()->copySource(guard);
    });
    connect(menu->addAction(tr("track-view.Delete")), &QAction::triggered, this,
            &TimeLineGraphicsView::slot_removeSourceItem);
    return menu;
}

void TimeLineGraphicsView::contextMenuEvent(QContextMenuEvent* event) {
    SourceItem* clip = nullptr;
    for (QGraphicsItem* item : items(event->pos())) {
        if ((clip = dynamic_cast<SourceItem*>(item)))
            break;
    }
    if (!clip)
        return;
    // Delete acts on the selection: the clicked clip joins a single selection.
    if (!clip->isSelected() && m_scene->selectedItems().size() <= 1) {
        m_scene->clearSelection();
        clip->setSelected(true);
    }
    QMenu* menu = contextMenuFor(clip, mapToScene(event->pos()));
    menu->exec(event->globalPos());
    menu->deleteLater();
}

void TimeLineGraphicsView::wheelEvent(QWheelEvent* event) {
    if (event->modifiers() & Qt::ControlModifier) {
        const int delta = event->angleDelta().y();
        if (delta != 0)
            slot_scaleStepView(delta > 0);
        event->accept();
        return;
    }
    QGraphicsView::wheelEvent(event);
}

void TimeLineGraphicsView::drawForeground(QPainter* painter, const QRectF& rect) {
    QGraphicsView::drawForeground(painter, rect);
    painter->save();
    painter->setRenderHint(QPainter::Antialiasing);
    QPen pen(Qt::red);
    pen.setCosmetic(true);
    painter->setPen(pen);
    const double playX = playHeadX();
    painter->drawLine(QPointF(playX, rect.top()), QPointF(playX, rect.bottom()));
    if (m_recording && playX > m_recordX)
        painter->fillRect(QRectF(m_recordX, m_recordY, playX - m_recordX, 36 * timeline::dpiScale()),
                          QColor(QStringLiteral("#9D90F9")));
    if (m_transDrag && !m_probe.isNull())
        painter->fillRect(m_probe, QColor(255, 0, 0, 128));
    painter->restore();
    emit sig_showTime(playHeadFrame(), totalFrames());
}

namespace {
constexpr const char* kDragText = "Quenor";
constexpr const char* kDragFormat = "data";

bool fromLibrary(const QMimeData* mime) {
    return mime && mime->text() == QLatin1String(kDragText) && mime->hasFormat(QLatin1String(kDragFormat));
}

QString payloadKind(const QMimeData* mime) {
    QByteArray bytes = mime->data(QLatin1String(kDragFormat));
    QDataStream in(&bytes, QIODevice::ReadOnly);
    QString kind;
    in >> kind;
    return in.status() == QDataStream::Ok ? kind : QString();
}
} // namespace

void TimeLineGraphicsView::dragEnterEvent(QDragEnterEvent* event) {
    if (!subtitles::subtitlePaths(event->mimeData()).isEmpty()) {
        // Subtitle files from the desktop: copied, never moved, so that the
        // file manager keeps its file.
        event->setDropAction(Qt::CopyAction);
        event->accept();
        return;
    }
    if (!fromLibrary(event->mimeData())) {
        event->ignore();
        return;
    }
    event->acceptProposedAction();
    emit sig_opertorUi(true, true);
    m_transDrag = payloadKind(event->mimeData()) == QLatin1String("transition");
}

void TimeLineGraphicsView::dragMoveEvent(QDragMoveEvent* event) {
    if (!subtitles::subtitlePaths(event->mimeData()).isEmpty()) {
        event->setDropAction(Qt::CopyAction);
        event->accept();
        return;
    }
    if (!fromLibrary(event->mimeData())) {
        event->ignore();
        return;
    }
    event->acceptProposedAction();
    if (m_transDrag) {
        const QPointF at = mapToScene(event->pos());
        m_probe = QRectF(at.x() - 1500, at.y() - 12, 3000, 25);
        LOGD("items size: %d", int(clipsUnderProbe(at).size()));
        viewport()->update();
    }
}

void TimeLineGraphicsView::dragLeaveEvent(QDragLeaveEvent* event) {
    endTransitionDrag();
    event->accept();
}

void TimeLineGraphicsView::endTransitionDrag() {
    m_transDrag = false;
    m_probe = QRectF();
    viewport()->update();
}

QList<SourceItem*> TimeLineGraphicsView::clipsUnderProbe(const QPointF& scenePos) const {
    QList<SourceItem*> clips;
    const QRectF probe(scenePos.x() - 1500, scenePos.y() - 12, 3000, 25);
    for (QGraphicsItem* item : m_scene->items(probe)) {
        auto* clip = dynamic_cast<SourceItem*>(item);
        if (clip && clip->isVisible() && (clip->SourceData::type() == SourcePicture || clip->SourceData::type() == SourceVideo))
            clips.append(clip);
    }
    return clips;
}

void TimeLineGraphicsView::dropEvent(QDropEvent* event) {
    const QMimeData* mime = event->mimeData();
    endTransitionDrag();
    const QStringList subtitleFiles = subtitles::subtitlePaths(mime);
    if (!subtitleFiles.isEmpty()) {
        event->setDropAction(Qt::CopyAction);
        event->accept();
        emit sig_importSubtitles(subtitleFiles, event->pos().y());
        return;
    }
    if (!fromLibrary(mime)) {
        event->ignore();
        return;
    }
    QByteArray bytes = mime->data(QLatin1String(kDragFormat));
    QDataStream in(&bytes, QIODevice::ReadOnly);
    QString kind;
    in >> kind;
    const QPointF at = mapToScene(event->pos());
    bg::ValueMap map;
    map["posY"] = bg::Value(event->pos().y());
    map["posX"] = bg::Value(double(timeline::frameToPixel(timeline::pixelToFrame(std::max(0.0, at.x())))));
    QColor color;
    QFont font;
    QString path;
    int type = 0;
    if (kind == QLatin1String("material")) {
        in >> type;
        if (type == SourceSubtitle) {
            in >> color >> font;
        } else {
            bool draggable = false;
            in >> draggable >> path;
        }
    } else if (kind == QLatin1String("gif")) {
        type = SourcePicture;
        in >> path;
    } else if (kind == QLatin1String("transition")) {
        QString name;
        in >> name;
        if (in.status() != QDataStream::Ok) {
            LOGW("malformed transition drop ignored");
            event->ignore();
            return;
        }
        LOGD("transition name: %s", qUtf8Printable(name));
        dropTransition(name, at);
        event->acceptProposedAction();
        return;
    } else {
        event->ignore(); // an unknown kind, or a stream too short to hold one
        if (in.status() != QDataStream::Ok)
            LOGW("malformed drop ignored");
        return;
    }
    if (in.status() != QDataStream::Ok) {
        LOGW("malformed %s drop ignored", qUtf8Printable(kind));
        event->ignore();
        return;
    }
    map["path"] = bg::Value(path.toStdString());
    map["type"] = bg::Value(type);
    event->acceptProposedAction();
    emit sig_createSourceItem(map, color, font);
}

void TimeLineGraphicsView::dropTransition(const QString& name, const QPointF& scenePos) {
    TimeLineTreeModel* tree = model();
    if (!tree)
        return;
    QList<SourceItem*> clips = clipsUnderProbe(scenePos);
    // Pairs are neighbours on one track; the scene's adjacency check drops the rest.
    std::sort(clips.begin(), clips.end(), [](SourceItem* a, SourceItem* b) {
        if (a->parentTrack() != b->parentTrack())
            return a->parentTrack() < b->parentTrack();
        return a->posX() < b->posX();
    });
    for (int i = 0; i + 1 < clips.size(); ++i) {
        SourceItem* from = clips[i];
        SourceItem* to = clips[i + 1];
        if (from->parentTrack() != to->parentTrack())
            continue;
        TransitionObject* existing = tree->transitionFrom(from);
        if (existing && existing->data()->to() == to) {
            bg::ValueMap map;
            map[tlkey::Type] = bg::Value(name.toStdString());
            existing->updateData(map);
        } else if (!existing) {
            m_scene->addTransition(from, to, name);
        }
    }
    viewport()->update();
}
