#include "render-manager.h"

#include "media/media.h"
#include "render/audio/player-manager.h"
#include "render/audio/sound-clock.h"
#include "render/record/record-manager.h"
#include "render/preview-item.h"
#include "render/shader-library.h"
#include "value/interface.h"
#include "values/value-qt.h"

#include <QFileInfo>
#include <QXmlStreamReader>
#include <QXmlStreamWriter>

#include <algorithm>
#include <array>
#include <cmath>

// ---- RenderThread ----

namespace {

// How long a frame cycle takes, from the last second's cycles: long enough
// for nine in ten of them. Pictures are chosen that far ahead, so one is
// late only when its cycle runs longer than nearly all before it, and the
// others come a few milliseconds early, which viewers forgive far more
// readily (sound before its picture is noticed from about 45 ms, after it
// only from about 125 ms).
class DrawLead {
public:
    void add(int64_t us) {
        m_recent[m_next] = us;
        m_next = (m_next + 1) % kKept;
        m_count = std::min(m_count + 1, kKept);
    }
    int64_t us() const {
        if (m_count == 0)
            return 0;
        std::array<int64_t, kKept> sorted = m_recent;
        const auto end = sorted.begin() + m_count;
        const auto at = sorted.begin() + (m_count * 9) / 10;
        std::nth_element(sorted.begin(), at, end);
        return *at;
    }

private:
    static constexpr int kKept = 30;
    std::array<int64_t, kKept> m_recent {};
    int m_next = 0;
    int m_count = 0;
};

} // namespace

std::atomic<int> RenderThread::s_running {0};

RenderThread::RenderThread() { start(QThread::InheritPriority); }

RenderThread::~RenderThread() {
    m_stop = true;
    GsRequestFrame(); // wakes the loop
    wait();
}

void RenderThread::run() {
    using namespace std::chrono;
    ++s_running;
    SoundClock& clock = SoundClock::instance();
    clock.setOnStartStop([] { GsRequestFrame(); });
    uint64_t seen = GsFrameRequests();
    DrawLead lead;
    for (bool first = true; !m_stop; first = false) {
        if (!first) {
            steady_clock::time_point deadline = steady_clock::time_point::max();
            const bool playing = clock.nextDue(steady_clock::now(), &deadline);
            const uint64_t asked = GsWaitForFrameRequest(seen, deadline);
            if (m_stop)
                break;
            if (asked == seen && !playing)
                continue;
            seen = asked;
        }
        const steady_clock::time_point start = steady_clock::now();
        TickSource();
        HandleFilter();
        OutputFrame(0, 1);
        DrawDisplay();
        // Going idle: what the outputs read back of this frame reaches them
        // now, not with a next frame that may not come for a long time.
        if (GsFrameRequests() == seen && !clock.running())
            FlushOutputs();
        ++m_cycles;
        const int64_t spent = duration_cast<microseconds>(steady_clock::now() - start).count();
        m_cycleTimeUs += spent;
        lead.add(spent);
        clock.setDrawLead(microseconds(std::min<int64_t>(kMaxLeadUs, lead.us())));
    }
    --s_running;
}

// ---- RenderManager ----

RenderManager::RenderManager(QObject* parent) : QObject(parent) {}

RenderManager::~RenderManager() {
    // The player thread asks for frames through this object: it goes first.
    delete m_player;
    m_player = nullptr;
    delete m_export;
    m_export = nullptr;
    delete m_record; // a running recording ends with its file closed
    m_record = nullptr;
    slot_closeRenderThread();
    if (m_scene)
        m_scene->Release();
    m_scene = nullptr;
}

bool RenderManager::init() {
    if (!m_player) {
        m_player = new PlayerManager;
        connect(m_player, &PlayerManager::sig_frontFrameRequest, this, &RenderManager::sig_frontFrameRequest);
        connect(m_player, &PlayerManager::sig_controlPlay, this, &RenderManager::sig_controlPlay);
    }
    if (!m_export) {
        m_export = new ExportManager;
        connect(m_export, &ExportManager::sig_frameRequest, this, &RenderManager::sig_frontFrameRequest);
    }
    if (!m_record) {
        m_record = new RecordManager;
        connect(m_record, &RecordManager::sig_frameRequest, this, &RenderManager::sig_frontFrameRequest);
        connect(m_record, &RecordManager::sig_audioSourceItem, this, &RenderManager::sig_audioSourceItem);
        connect(m_record, &RecordManager::sig_recordCutShort, this, &RenderManager::sig_recordCutShort);
        connect(m_record, &RecordManager::sig_controlRecord, this, &RenderManager::sig_controlRecord);
    }
    if (!GsDevice::CreateDefaultDevice(false))
        return false;
    RegisterShaders(GsDevice::DefaultDevice());
    setSceneSize(kDefaultSceneWidth, kDefaultSceneHeight, false);
    connect(this, &RenderManager::sig_queryScene, this, [this] { emit sig_sendScene(m_scene); });
    slot_startRenderThread();
    return true;
}

void RenderManager::slot_startRenderThread() {
    delete m_renderThread; // joins a running loop first
    m_renderThread = new RenderThread;
}

void RenderManager::slot_closeRenderThread() {
    delete m_renderThread;
    m_renderThread = nullptr;
}

void RenderManager::addItem(GsItem* item) {
    if (!item || !m_scene)
        return;
    m_scene->AddItem(item);
    if (auto* video = dynamic_cast<VideoPreviewItem*>(item)) {
        video->companion()->SetBaseSize(float(m_width), float(m_height));
        m_scene->AddItem(video->companion());
    }
    m_scene->OrderItem();
}

void RenderManager::removeItem(GsItem* item) {
    if (!item || !m_scene)
        return;
    if (auto* video = dynamic_cast<VideoPreviewItem*>(item))
        m_scene->RemoveItem(video->companion());
    m_scene->RemoveItem(item);
}

void RenderManager::orderItems() {
    if (m_scene)
        m_scene->OrderItem();
}

bool RenderManager::isUsableSceneSize(int64_t width, int64_t height) {
    return width >= kMinSceneSide && height >= kMinSceneSide && width <= GsTexture::kMaxSide &&
           height <= GsTexture::kMaxSide;
}

void RenderManager::setSceneSize(int width, int height, bool locked) {
    width = width / 2 * 2;
    height = height / 2 * 2;
    if (!isUsableSceneSize(width, height)) {
        LOGW("render: a scene of %dx%d is impossible; keeping %ux%u", width, height, m_width, m_height);
        return;
    }
    GsScene* fresh = new GsScene(width, height);
    GsScene* old = m_scene;
    m_width = uint32_t(width);
    m_height = uint32_t(height);
    if (old) {
        // Every track's item goes along, in its order: a new canvas size
        // changes where things are drawn, never what is drawn.
        std::vector<GsItem*> items;
        old->EnumItems(
            [&items](GsItem* item, void*) {
                item->AddRef();
                items.push_back(item);
                return true;
            },
            nullptr);
        for (GsItem* item : items) {
            fresh->AddItem(item);
            item->SetBaseSize(float(width), float(height));
            old->RemoveItem(item);
            item->Release();
        }
        fresh->OrderItem();
    }
    m_scene = fresh;
    // The render thread may still draw the old scene; it goes with its last reference.
    if (old)
        old->Release();
    m_sizeLocked = locked;
    emit sig_sendScene(m_scene);
    emit sig_updateSceneSize(width, height);
}

bg::ValueMap RenderManager::probeMedia(const QString& path) {
    bg::ValueMap info;
    info["valid"] = bg::Value(false);
    if (!QFileInfo(path).isFile())
        return info;
    std::shared_ptr<ff::MovieCtx> movie = ff::getMovieInfo(path.toUtf8().constData(), nullptr);
    if (!movie)
        return info;
    int64_t durationMs = movie->durationUs / 1000;
    info["valid"] = bg::Value(true);
    info["duration"] = bg::Value(durationMs);
    // Whole frames at 30 a second, counted in integers: dividing by
    // 33.33... ms in floating point made a 2000 ms clip 59 frames long. A
    // length that falls a hair short of a frame's end (a recording of 101
    // frames lasts 3.366666 s) still has that frame; counted from whole
    // milliseconds, its sound's last 33 ms were never heard.
    const int64_t us = std::clamp<int64_t>(movie->durationUs, 0, int64_t(1) << 60); // a lying header cannot overflow
    info["pix"] = bg::Value((us + 1000) * 3 / 100000);
    const ff::StreamInfo* video = movie->videoStreams > 0 ? movie->stream(movie->bestVideoStream) : nullptr;
    info["width"] = bg::Value(video ? video->width : 0);
    info["height"] = bg::Value(video ? video->height : 0);
    info["still"] = bg::Value(movie->stillPicture);
    return info;
}

bg::ValueMap RenderManager::mediaInfo(const QString& path, bool adapt) {
    bg::ValueMap info = probeMedia(path);
    int width = info.get("width").toInt(), height = info.get("height").toInt();
    if (adapt && !m_sizeLocked && width > 0 && height > 0)
        setSceneSize(width, height, false);
    return info;
}

void RenderManager::writeSection(QXmlStreamWriter& writer) const {
    writer.writeStartElement(QStringLiteral("scene"));
    writer.writeTextElement(QStringLiteral("width"), QString::number(m_width));
    writer.writeTextElement(QStringLiteral("height"), QString::number(m_height));
    writer.writeEndElement();
}

void RenderManager::readSection(QXmlStreamReader& reader) {
    // At the "scene" start element.
    int64_t width = kDefaultSceneWidth, height = kDefaultSceneHeight;
    while (reader.readNextStartElement()) {
        const bool isWidth = reader.name() == QLatin1String("width");
        if (!isWidth && reader.name() != QLatin1String("height")) {
            reader.skipCurrentElement();
            continue;
        }
        const QString text = reader.readElementText();
        bool ok = false;
        const int64_t v = text.trimmed().toLongLong(&ok);
        if (!ok)
            LOGW("render: the project's canvas %s '%s' is no number", isWidth ? "width" : "height",
                 qUtf8Printable(text.left(40)));
        else
            (isWidth ? width : height) = v;
    }
    useProjectCanvas(width, height);
}

void RenderManager::useProjectCanvas(int64_t width, int64_t height) {
    if (!isUsableSceneSize(width, height)) {
        LOGW("render: the project's canvas %lldx%lld is outside %d..%d pixels a side; using %dx%d",
             static_cast<long long>(width), static_cast<long long>(height), kMinSceneSide, GsTexture::kMaxSide,
             kDefaultSceneWidth, kDefaultSceneHeight);
        width = kDefaultSceneWidth;
        height = kDefaultSceneHeight;
    }
    setSceneSize(int(width), int(height), false);
}

void RenderManager::readOldCanvas(const QString& rectText) {
    bg::ValueQt rect;
    QByteArray text = rectText.toUtf8();
    if (!rect.read(text.constData())) {
        LOGW("render: canvas_rect %s is no rectangle", text.constData());
        return;
    }
    QRectF r = rect.type() == bg::VT_RECT ? QRectF(bg::toQRect(rect)) : bg::toQRectF(rect);
    // Whole pixels; anything beyond the largest side is refused all the same.
    auto side = [](double v) { return std::isfinite(v) ? int64_t(std::clamp(v, -1e9, 1e9)) : int64_t(0); };
    useProjectCanvas(side(r.width()), side(r.height()));
}

void RenderManager::setPlaying(bool playing) {
    if (m_player)
        m_player->setPlaying(playing);
}

bool RenderManager::isPlaying() const {
    return m_player && m_player->isPlaying();
}

void RenderManager::deliverAudio(const QList<AudioFrameData>& sounds, int64_t frame, int64_t fps, int64_t last,
                                 EditType edit) {
    if (edit == EditPlayback && m_player)
        m_player->submit(sounds, frame, fps, last);
}

void RenderManager::slot_exportParam(MVParams* params) {
    if (!m_export)
        return;
    // The mixer is shared with playback, and the engine's frame cycle may
    // run on one thread only: the exporter's.
    setPlaying(false);
    slot_closeRenderThread();
    emit sig_resetFrame(0, EditExport, false);
    emit sig_startExportPrepare();
    m_exportResult = m_export->Export(params, m_scene);
    emit sig_stopExportPrepare();
    slot_startRenderThread();
}

bool RenderManager::isRecording() const {
    return m_record && m_record->isRecording();
}

void RenderManager::slot_recordAudio(bool start) {
    if (m_record)
        m_record->RecordAudio(start);
}

void RenderManager::slot_opertorUi(bool playing, bool recording) {
    // The play button's owner turns playback off when it hears sig_controlPlay.
    if (playing && isPlaying())
        emit sig_controlPlay();
    // The dub button's owner switches recording off when it hears sig_controlRecord.
    if (recording && isRecording())
        emit sig_controlRecord();
}
