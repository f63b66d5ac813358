#include "preview-item.h"

#include "render/audio/sound-clock.h"
#include "render/fit-size.h"
#include "render/shader-library.h"
#include "render/video-decoder-task.h"
#include "value/interface.h"
#include "values/panel-signals.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFontMetricsF>
#include <QPainter>
#include <QTextBoundaryFinder>

#include <cmath>

// ---- PreviewItem ----

PreviewItem::PreviewItem(const gs_vec2& baseSize) : GsItem(baseSize) {
    hoverable = true;
    selectable = true;
    visible = false;
    hovered = false;
    selected = false;
}

void PreviewItem::setVisible(bool show) {
    const bool changed = visible != show || (!show && selected);
    visible = show;
    if (!show)
        selected = false;
    if (changed)
        GsRequestFrame();
}

ItemGeometry PreviewItem::geometry() const {
    gs_vec2 p = pos(), s = size();
    return {p.x, p.y, s.x, s.y, rotation};
}

void PreviewItem::deleteClip() {
    if (m_track)
        m_track->deleteActiveClip();
}

void PreviewItem::editClip(int mode) {
    if (m_track)
        m_track->editActiveClip(mode);
}

void PreviewItem::raiseClip() {
    if (m_track)
        m_track->raiseActiveClip();
}

void PreviewItem::lowerClip() {
    if (m_track)
        m_track->lowerActiveClip();
}

// ---- VideoPreviewItem ----

namespace {

// Tells the panels what frame the item shows; queued to the GUI thread.
void publishCropFrames(const QList<VFrameInfo>& frames) { emit PanelSignals::instance()->sig_updateCropMenu(frames); }

RenderProps selfBlock(const VFrameInfo& self) {
    RenderProps block;
    block.program = QStringLiteral("rgba_base");
    block.progress = 1.0;
    block.self = self;
    block.contentMask = ContentSelf;
    return block;
}

RenderProps transitionBlock(const FrameRequest& request, const VFrameInfo& from, const VFrameInfo& to) {
    RenderProps block;
    block.program = request.program;
    block.progress = request.progress;
    block.from = from;
    block.to = to;
    block.contentMask = ContentTransition;
    return block;
}

} // namespace

VideoPreviewItem::VideoPreviewItem(const gs_vec2& baseSize)
    : PreviewItem(baseSize), m_companion(new TransPreviewItem) {
    z = 0;
    start(QThread::InheritPriority);
}

void VideoPreviewItem::Destroy() {
    // The worker and the object belong to the GUI thread: the render thread
    // may let go last, but the deletion happens over there.
    if (QThread::currentThread() != QObject::thread() && QCoreApplication::instance()) {
        QMetaObject::invokeMethod(QCoreApplication::instance(), [this] { delete this; }, Qt::QueuedConnection);
        return;
    }
    delete this;
}

VideoPreviewItem::~VideoPreviewItem() {
    {
        QMutexLocker lock(&m_queueLock);
        m_quit = true;
        m_ready = true;
        m_wake.wakeAll();
    }
    wait();
    LOGD("~VideoPreviewItem");
    m_companion->Release();
}

void VideoPreviewItem::request(const FrameRequest& request) {
    const bool wasVisible = visible, companionWasVisible = m_companion->visible;
    setVisible(request.showMask & ShowClip);
    m_companion->visible = (request.showMask & ShowTransition) != 0;
    if (!m_companion->visible)
        m_companion->selected = false;
    if (visible != wasVisible || m_companion->visible != companionWasVisible)
        GsRequestFrame();
    {
        std::lock_guard<std::mutex> state(m_stateLock);
        if (request.self.uuid != m_clipUuid) {
            m_earlierUuid = m_clipUuid;
            m_clipUuid = request.self.uuid;
            m_clipSince = request.frame;
        }
    }
    // Playing asks for frame after frame, at times two at once (the sound
    // output takes sound in bursts): each is served, or the pictures of
    // those dropped would be missing. Anything else (scrubbing, an edit)
    // replaces what waits: only the newest matters.
    const bool playing = SoundClock::instance().running();
    QMutexLocker lock(&m_queueLock);
    if (!playing || m_waiting.empty() || request.frame != m_waiting.back().frame + 1)
        m_waiting.clear();
    else if (int(m_waiting.size()) >= kMaxWaitingRequests)
        m_waiting.pop_front();
    m_waiting.push_back(request);
    m_queued = request;
    m_ready = true;
    m_wake.wakeAll();
}

void VideoPreviewItem::decodeAgain() {
    int64_t due = 0;
    if (m_exporting || SoundClock::instance().dueFrame(&due))
        return; // playing: the next requests come soon, and an old one must not follow them
    QMutexLocker lock(&m_queueLock);
    if (m_ready || m_queued.decodeMask == 0)
        return;
    m_waiting.assign(1, m_queued);
    m_ready = true;
    m_wake.wakeAll();
}

void VideoPreviewItem::run() {
    VideoTaskManager tasks;
    tasks.setFollowsScreen(true);
    QElapsedTimer clock;
    for (;;) {
        clock.start();
        FrameRequest request;
        {
            QMutexLocker lock(&m_queueLock);
            while (!m_ready && !m_quit)
                m_wake.wait(&m_queueLock);
            if (m_quit)
                break;
            // Frames of playback whose time has passed while they waited
            // would only be skipped when shown: the newest always stays.
            int64_t due = 0;
            if (m_waiting.size() > 1 && SoundClock::instance().dueFrame(&due)) {
                while (m_waiting.size() > 1 && m_waiting.front().frame < due)
                    m_waiting.pop_front();
            }
            request = m_waiting.front();
            m_waiting.pop_front();
            m_ready = !m_waiting.empty();
        }
        if (request.decodeMask == 0) {
            tasks.clear();
            continue;
        }
        QList<VFrameInfo> frames = tasks.decode(request);
        ++m_served;
        Decoded decoded;
        decoded.frame = request.frame;
        if ((request.showMask & ShowClip) || (request.decodeMask & DecodeSelf)) {
            decoded.hasSelf = true;
            decoded.self = selfBlock(frames[0]);
            publishCropFrames(frames);
        }
        if ((request.showMask & ShowTransition) || (request.decodeMask & (DecodeFrom | DecodeTo))) {
            decoded.hasTransition = true;
            decoded.transition = transitionBlock(request, frames[1], frames[2]);
        }
        if (decoded.hasSelf || decoded.hasTransition)
            keep(std::move(decoded));
        // The pause is for scrubbing; the next frame of playback waiting goes on at once.
        bool more = false;
        if (SoundClock::instance().running()) {
            QMutexLocker lock(&m_queueLock);
            more = m_ready && m_waiting.front().frame == request.frame + 1;
        }
        qint64 spent = clock.nsecsElapsed() / 1000;
        if (!more && spent < kRequestIntervalUs)
            QThread::usleep(static_cast<unsigned long>(kRequestIntervalUs - spent));
    }
    tasks.clear();
}

void VideoPreviewItem::keep(Decoded decoded) {
    const int64_t frame = decoded.frame;
    {
        std::lock_guard<std::mutex> lock(m_stateLock);
        if (int(m_decoded.size()) >= kMaxDecodedAhead)
            m_decoded.pop_front();
        m_decoded.push_back(std::move(decoded));
    }
    // While playing, a picture ahead of the sound waits for the clock, which
    // wakes the frame cycle itself when it falls due.
    int64_t due = 0;
    if (frame < 0 || !SoundClock::instance().dueFrame(&due) || frame <= due)
        GsRequestFrame();
}

void VideoPreviewItem::takeDue() {
    int64_t due = 0;
    const bool paced = SoundClock::instance().dueFrame(&due);
    Decoded chosen;
    {
        std::lock_guard<std::mutex> lock(m_stateLock);
        // The newest picture that is due: without the clock the newest of
        // all; with it, the last one queued whose frame has been reached (a
        // jump back queues smaller frames after larger ones).
        int pick = -1;
        for (int i = int(m_decoded.size()) - 1; i >= 0 && pick < 0; --i) {
            const int64_t frame = m_decoded[size_t(i)].frame;
            if (!paced || frame < 0 || frame <= due)
                pick = i;
        }
        if (pick < 0)
            return;
        chosen = std::move(m_decoded[size_t(pick)]);
        m_decoded.erase(m_decoded.begin(), m_decoded.begin() + pick + 1);
        if (chosen.hasSelf)
            m_current = chosen.self;
    }
    if (chosen.hasTransition)
        m_companion->setPending(chosen.transition);
    m_shownFrame = chosen.frame;
}

RenderProps VideoPreviewItem::currentProps() {
    std::lock_guard<std::mutex> lock(m_stateLock);
    return m_current;
}

RenderProps VideoPreviewItem::renderProps(const FrameRequest& request) {
    RenderProps block;
    if (request.showMask == 0 || !m_exportTasks)
        return block;
    QList<VFrameInfo> frames = m_exportTasks->decode(request);
    if (request.showMask & ShowClip) {
        block.contentMask |= ContentSelf;
        block.self = frames[0];
    }
    if (request.showMask & ShowTransition) {
        block.contentMask |= ContentTransition;
        block.program = request.program;
        block.progress = request.progress;
        block.from = frames[1];
        block.to = frames[2];
    }
    return block;
}

void VideoPreviewItem::applyRenderProps(const RenderProps& props) {
    if (props.contentMask & ContentSelf) {
        {
            std::lock_guard<std::mutex> lock(m_stateLock);
            m_current = selfBlock(props.self);
            m_clipUuid = props.self.uuid;
            m_earlierUuid.clear();
            m_clipSince = -1;
        }
        MoveTo(props.self.centerX, props.self.centerY);
        Resize(props.self.width, props.self.height);
        rotation = props.self.rotation;
    }
    if (props.contentMask & ContentTransition) {
        RenderProps t;
        t.program = props.program;
        t.progress = props.progress;
        t.from = props.from;
        t.to = props.to;
        t.contentMask = ContentTransition;
        m_companion->setCurrent(t);
    }
    setVisible(props.contentMask & ContentSelf);
    m_companion->visible = (props.contentMask & ContentTransition) != 0;
}

void VideoPreviewItem::setStacking(int32_t value) {
    z = value;
    m_companion->z = value;
}

void VideoPreviewItem::beginExport() {
    m_exportTasks = std::make_unique<VideoTaskManager>();
    // The export decides per frame: planes go to the writer as they are,
    // or are converted for composing (see ExportFetchFrame).
    m_exportTasks->setDecodesPlanes(true);
    m_exporting = true;
    m_companion->setSkipPending(true);
}

void VideoPreviewItem::endExport() {
    if (m_exportTasks)
        m_exportTasks->clear();
    m_exportTasks.reset();
    m_exporting = false;
    m_companion->setSkipPending(false);
}

bool VideoPreviewItem::earlierClipDue(const VFrameInfo& self) const {
    // Only the clip shown just before the newest one (not one from before a
    // gap or a transition), only its pictures from before the newest
    // clip's first frame, and only while the clock is near that frame: a
    // first picture of the newest clip that never comes leaves no frozen
    // picture behind.
    int64_t due = 0;
    const int64_t shown = m_shownFrame.load();
    return !m_exporting && self.frame && !m_earlierUuid.isEmpty() && self.uuid == m_earlierUuid &&
           m_clipSince >= 0 && shown >= 0 && shown < m_clipSince && SoundClock::instance().dueFrame(&due) &&
           due < m_clipSince + kMaxDecodedAhead;
}

void VideoPreviewItem::Update() {
    RenderProps current;
    QString clip;
    bool earlier = false;
    if (!m_exporting)
        takeDue();
    {
        std::lock_guard<std::mutex> lock(m_stateLock);
        current = m_current;
        clip = m_clipUuid;
        earlier = earlierClipDue(current.self);
    }
    const VFrameInfo& self = current.self;
    m_drawsEarlierClip = earlier;
    // The item already stands where the new clip goes while its first frame
    // still decodes (a large picture takes a while, a broken one never
    // comes): the last clip's picture must not be drawn in its place. While
    // playing, the pictures before a cut are still due after the next clip
    // was asked for: they are drawn, at their own place, until the cut.
    if (m_texture && m_textureUuid != clip && !(earlier && m_textureUuid == self.uuid)) {
        m_texture.reset();
        m_uploadedFrame.reset();
    }
    m_hasPicture = m_texture != nullptr;
    if (!self.frame || (self.uuid != clip && !earlier))
        return; // the clip's previous picture, if any, stays
    // A frame is never rewritten while it is shared, so the same frame and
    // rectangle mean the texture already holds this picture.
    if (self.frame == m_uploadedFrame && self.clipRect == m_uploadedRect && m_texture)
        return;
    m_uploadedFrame = self.frame;
    m_uploadedRect = self.clipRect;
    m_textureUuid = self.uuid;
    QRect part = visiblePart(self.clipRect, self.frame->width, self.frame->height);
    if (part.isEmpty())
        m_texture.reset();
    else
        fillFrameTexture(m_texture, self.frame, part);
    m_hasPicture = m_texture != nullptr;
}

VideoPreviewItem::Placement VideoPreviewItem::placement(const VFrameInfo& self) const {
    if (m_drawsEarlierClip)
        return {{self.centerX, self.centerY}, {self.width, self.height}, self.rotation};
    return {pos(), size(), rotation};
}

bool VideoPreviewItem::CoversScene() const {
    GsScene* s = scene();
    if (!m_texture || !s)
        return false;
    std::lock_guard<std::mutex> lock(m_stateLock);
    const VFrameInfo& self = m_current.self;
    if (!self.frame || !self.frame->opaque || self.transparent < 1.0f)
        return false;
    GsDevice* device = GsDevice::DefaultDevice();
    if (!device || !device->HasShader(m_current.program.toStdString()))
        return false;
    const Placement at = placement(self);
    gs_vec2 drawn = fitSize(at.box, m_texture->width(), m_texture->height(), self.stretch);
    return coversScene(at.centre.x, at.centre.y, drawn, at.rotation, s->width(), s->height());
}

const GsTexture* VideoPreviewItem::SceneCopy() const {
    GsScene* s = scene();
    if (!m_texture || !s)
        return nullptr;
    std::lock_guard<std::mutex> lock(m_stateLock);
    const VFrameInfo& self = m_current.self;
    if (!self.frame || !self.frame->opaque || self.transparent < 1.0f || !self.colour.atRest() ||
        m_current.program != QLatin1String("rgba_base"))
        return nullptr;
    // The picture may have been decoded smaller than the scene: the scene,
    // composed at the size it is shown, copies it only when that is its size.
    const Placement at = placement(self);
    const gs_vec2 drawn = fitSize(at.box, m_texture->width(), m_texture->height(), self.stretch);
    const bool inPlace = at.rotation == 0.0f && at.centre.x == 0.0f && at.centre.y == 0.0f &&
                         drawn.x == float(s->width()) && drawn.y == float(s->height());
    return inPlace ? m_texture.get() : nullptr;
}

void VideoPreviewItem::Draw() {
    GsScene* s = scene();
    if (!m_texture || !visible || !s)
        return;
    RenderProps current;
    {
        std::lock_guard<std::mutex> lock(m_stateLock);
        current = m_current;
    }
    const VFrameInfo& self = current.self;
    const Placement at = placement(self);
    gs_vec2 drawn = fitSize(at.box, m_texture->width(), m_texture->height(), self.stretch);
    GsContextDefault::SetViewport(0, 0, s->width(), s->height());
    if (!m_buffer)
        m_buffer = std::make_unique<GsConstantBuffer>(int(sizeof(ColourBlock)));
    ColourBlock block = colourBlock(self.colour, self.transparent);
    m_buffer->Update(&block, int(sizeof block));
    GsTextureBinder bind(m_texture.get());
    if (GsContextDefault::BindShader(current.program.toStdString())) {
        if (m_buffer->Bind(0))
            GsContextDefault::DrawRect({at.centre.x, at.centre.y, drawn.x, drawn.y, at.rotation},
                                       {float(s->width()), float(s->height())});
    }
    GsContextDefault::UnbindShader();
}

// ---- SubtitlePreviewItem ----

SubtitlePreviewItem::SubtitlePreviewItem(const gs_vec2& baseSize) : PreviewItem(baseSize) { z = 10000; }

QFont SubtitlePreviewItem::canvasFont(const QFont& font) {
    QFont canvas(font);
    if (font.pixelSize() <= 0 && font.pointSizeF() > 0)
        canvas.setPixelSize(std::max(1, int(std::lround(font.pointSizeF() * 96.0 / 72.0))));
    return canvas;
}

QSizeF SubtitlePreviewItem::textExtent(const QString& text, const QFont& font) {
    QFontMetricsF metrics(canvasFont(font));
    qreal widest = 0;
    const QStringList lines = text.split(QLatin1Char('\n'));
    for (const QString& line : lines)
        widest = std::max(widest, metrics.horizontalAdvance(line));
    return QSizeF(widest + 12, (text.count(QLatin1Char('\n')) + 1) * metrics.lineSpacing() + 12);
}

namespace {

// One line broken where the script allows (between words; between any two
// characters of Chinese or Japanese) into lines no wider than `width`; a
// piece that is wider on its own is broken between characters.
QStringList wrapLine(const QString& line, const QFontMetricsF& metrics, qreal width) {
    if (metrics.horizontalAdvance(line) <= width)
        return {line};
    const auto advance = [&](int from, int to) {
        QStringRef piece = line.midRef(from, to - from);
        while (!piece.isEmpty() && piece.back().isSpace())
            piece.chop(1);
        return metrics.horizontalAdvance(piece.toString());
    };
    QList<int> breaks;
    QTextBoundaryFinder finder(QTextBoundaryFinder::Line, line);
    for (int at = finder.toNextBoundary(); at > 0; at = finder.toNextBoundary())
        breaks.append(at);
    QStringList out;
    int start = 0;
    const auto emitUpTo = [&](int end) {
        QString piece = line.mid(start, end - start);
        while (!piece.isEmpty() && piece.back().isSpace())
            piece.chop(1);
        out.append(piece);
        start = end;
    };
    int fits = -1;
    for (int i = 0; i < breaks.size(); ++i) {
        const int at = breaks.at(i);
        if (at <= start)
            continue;
        if (advance(start, at) <= width) {
            fits = at;
            continue;
        }
        if (fits > start) {
            emitUpTo(fits);
            --i; // this piece starts the next line
            continue;
        }
        // One piece wider than the line: as many characters as fit, at
        // least one (a surrogate pair stays whole).
        while (start < at && advance(start, at) > width) {
            int end = start + 1;
            if (line.at(start).isHighSurrogate() && end < at)
                ++end;
            while (end < at) {
                const int next = end + (line.at(end).isHighSurrogate() && end + 1 < at ? 2 : 1);
                if (advance(start, next) > width)
                    break;
                end = next;
            }
            emitUpTo(end);
        }
        fits = at;
    }
    if (start < line.size())
        emitUpTo(line.size());
    return out;
}

} // namespace

QString SubtitlePreviewItem::fitToCanvas(const QString& text, const QFont& font, const gs_vec2& canvas) {
    const QFontMetricsF metrics(canvasFont(font));
    const qreal lineHeight = std::max<qreal>(1.0, metrics.lineSpacing());
    // More lines than the canvas is high, or more characters on a line than
    // it is wide (no glyph is narrower than a tenth of the line's height),
    // can never show: they are not laid out at all.
    const int maxLines = int(std::clamp<qreal>(canvas.y / lineHeight, 0, 10000)) + 1;
    const int maxChars = int(std::clamp<qreal>(canvas.x / (lineHeight * 0.1), 0, 100000)) + 1;
    // A line wider than the canvas is wrapped to it (the box's margins
    // included), as players wrap subtitles; it was cut at both sides.
    const qreal width = std::max<qreal>(1.0, canvas.x - 12);
    QStringList fitted;
    for (int start = 0; start <= text.size() && fitted.size() < maxLines;) {
        int end = text.indexOf(QLatin1Char('\n'), start);
        if (end < 0)
            end = text.size();
        const QString line = text.mid(start, std::min(end - start, maxChars));
        for (const QString& part : wrapLine(line, metrics, width)) {
            if (fitted.size() < maxLines)
                fitted.append(part);
        }
        start = end + 1;
    }
    return fitted.join(QLatin1Char('\n'));
}

void SubtitlePreviewItem::take(const SubtitleRequest& look) {
    // The picture is laid out once per change, not once per frame.
    const bool sameLook = m_hasLook && look.text == m_look.text && look.font == m_look.font &&
                          look.textColor == m_look.textColor && look.backgroundColor == m_look.backgroundColor &&
                          look.backgroundAlpha == m_look.backgroundAlpha && look.transparent == m_look.transparent;
    const gs_vec2 before = size();
    if (!sameLook) {
        m_look = look;
        m_hasLook = true;
        m_shownText = fitToCanvas(look.text, look.font, baseSize());
        m_extent = textExtent(m_shownText, look.font);
    }
    gs_vec2 s = size();
    if (s.x < m_extent.width() || s.y < m_extent.height())
        Resize(float(std::max<qreal>(s.x, m_extent.width())), float(std::max<qreal>(s.y, m_extent.height())));
    s = size();
    if (!sameLook || s.x != before.x || s.y != before.y || m_renderedSize.x != s.x || m_renderedSize.y != s.y)
        renderImage();
}

void SubtitlePreviewItem::request(const SubtitleRequest& request) { take(request); }

void SubtitlePreviewItem::applyRenderProps(const RenderProps& props) {
    if (props.subtitle) {
        const SubtitleState& state = *props.subtitle;
        MoveTo(float(state.previewRect.x()), float(state.previewRect.y()));
        Resize(float(state.previewRect.width()), float(state.previewRect.height()));
        rotation = float(std::fmod(state.rotateDegrees + 360.0, 360.0) / 180.0 * 3.1415926);
        take(state.look);
    }
    setVisible(props.visible);
}

void SubtitlePreviewItem::renderImage() {
    gs_vec2 s = size();
    m_renderedSize = s;
    int w = std::isfinite(s.x) ? int(s.x) : 0, h = std::isfinite(s.y) ? int(s.y) : 0;
    QImage image;
    if (w > 0 && h > 0 && w <= GsTexture::kMaxSide && h <= GsTexture::kMaxSide) {
        image = QImage(w, h, QImage::Format_RGBA8888);
        QColor background = m_look.backgroundColor;
        background.setAlpha(std::clamp(m_look.backgroundAlpha, 0, 255));
        image.fill(background);
        if (!m_look.text.isEmpty()) {
            QPainter painter(&image);
            painter.setFont(canvasFont(m_look.font));
            painter.setPen(m_look.textColor);
            QRectF box(QPointF((w - m_extent.width()) / 2, (h - m_extent.height()) / 2), m_extent);
            painter.drawText(box, Qt::AlignCenter, m_shownText);
        }
    }
    {
        std::lock_guard<std::mutex> lock(m_lock);
        m_image = image;
        m_transparent = float(m_look.transparent);
        m_imageChanged = true;
    }
    GsRequestFrame();
}

QImage SubtitlePreviewItem::image() {
    std::lock_guard<std::mutex> lock(m_lock);
    return m_image;
}

void SubtitlePreviewItem::Update() {
    if (!visible)
        return;
    QImage image;
    {
        std::lock_guard<std::mutex> lock(m_lock);
        if (!m_imageChanged && m_texture)
            return; // the texture already shows this image
        image = m_image;
        m_imageChanged = false;
    }
    if (image.isNull()) {
        m_texture.reset();
        return;
    }
    GsTexture::Fill(m_texture, image.constBits(), int(image.bytesPerLine()), image.width(), image.height());
}

void SubtitlePreviewItem::Draw() {
    GsScene* s = scene();
    if (!m_texture || !visible || !s)
        return;
    float transparent;
    {
        std::lock_guard<std::mutex> lock(m_lock);
        transparent = m_transparent;
    }
    gs_vec2 p = pos(), sz = size();
    GsContextDefault::SetViewport(0, 0, s->width(), s->height());
    if (!m_buffer)
        m_buffer = std::make_unique<GsConstantBuffer>(int(sizeof(AlphaBlock)));
    AlphaBlock block = {transparent, 0.0f, 0.0f, 0.0f};
    m_buffer->Update(&block, int(sizeof block));
    GsTextureBinder bind(m_texture.get());
    if (GsContextDefault::BindShader("rgba_subtitle")) {
        if (m_buffer->Bind(0))
            GsContextDefault::DrawRect({p.x, p.y, sz.x, sz.y, rotation}, {float(s->width()), float(s->height())});
    }
    GsContextDefault::UnbindShader();
}
