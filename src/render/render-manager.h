// The switchboard of rendering: owns the scene the preview is composed in
// and the render thread that draws it, and relays the frame requests of the
// preview, the player, the recorder and the exporter to the timeline.
// GUI thread only, apart from what the render thread does.
#pragma once

#include "graphics/graphics.h"
#include "render/audio/audio-frame-data.h"
#include "render/export/export-thread.h"
#include "render/frame-types.h"
#include "render/preview-requests.h"
#include "value/value.h"

#include <QObject>
#include <QThread>

#include <cstdint>

class PlayerManager;
class RecordManager;
class QXmlStreamReader;
class QXmlStreamWriter;

// Runs the engine's frame cycle whenever a frame is asked for (a new
// picture, an edit, a resize) and, while playback runs, when the sound
// clock brings the next frame due; otherwise it sleeps. Until it is deleted.
class RenderThread : public QThread {
    Q_OBJECT
public:
    // The longest a cycle is assumed to take when choosing pictures ahead.
    static constexpr int kMaxLeadUs = 50000;
    RenderThread();
    ~RenderThread() override;
    int cycles() const { return m_cycles.load(); }
    // Microseconds the cycles took, summed (for the benchmarks).
    int64_t cycleTimeUs() const { return m_cycleTimeUs.load(); }
    // Loops running in the process.
    static int running() { return s_running.load(); }

protected:
    void run() override;

private:
    std::atomic<bool> m_stop {false};
    std::atomic<int> m_cycles {0};
    std::atomic<int64_t> m_cycleTimeUs {0};
    static std::atomic<int> s_running;
};

class RenderManager : public QObject {
    Q_OBJECT
public:
    explicit RenderManager(QObject* parent = nullptr);
    // Stops playback before anything else goes.
    ~RenderManager() override;

    // The player, the device, programs, the 1920 x 1080 scene and the render
    // thread. False when no graphics device can be made (the player exists then).
    bool init();

    GsScene* scene() const { return m_scene; }
    uint32_t sceneWidth() const { return m_width; }
    uint32_t sceneHeight() const { return m_height; }
    bool isSizeLocked() const { return m_sizeLocked; }
    RenderThread* renderThread() const { return m_renderThread; }

    void addItem(GsItem* item);
    void removeItem(GsItem* item);
    void orderItems();
    // The canvas a project starts with and falls back to.
    static constexpr int kDefaultSceneWidth = 1920;
    static constexpr int kDefaultSceneHeight = 1080;
    // The smallest side; the largest is GsTexture::kMaxSide.
    static constexpr int kMinSceneSide = 16;
    static bool isUsableSceneSize(int64_t width, int64_t height);
    // Odd sizes lose one pixel (the encoders need even sides); an impossible
    // size is refused with a log line. The old scene goes when its last user
    // lets go.
    void setSceneSize(int width, int height, bool locked);
    // "valid", "duration" (ms), "pix" (frames at 30 fps), "width", "height";
    // with adapt, an unlocked scene takes a video's size.
    bg::ValueMap mediaInfo(const QString& path, bool adapt);
    // The same description, without touching any scene.
    static bg::ValueMap probeMedia(const QString& path);

    // The timeline's sound of a frame: playback (EditPlayback) goes to the
    // player, anything else is dropped. Called on the thread that asked.
    void deliverAudio(const QList<AudioFrameData>& sounds, int64_t frame, int64_t fps, int64_t last,
                      EditType edit);

    bool isRecording() const;
    // Made by init().
    RecordManager* recordManager() const { return m_record; }
    // Starts or stops playback (nothing before init()).
    void setPlaying(bool playing);
    bool isPlaying() const;
    PlayerManager* player() const { return m_player; }
    // Made by init(); the application gives it the timeline request, the
    // progress callback and the stop command.
    ExportManager* exportManager() const { return m_export; }
    // What the last slot_exportParam gave.
    const ExportResult& lastExportResult() const { return m_exportResult; }

    // The "scene" element of a project, and the older "canvas_rect".
    // A canvas outside the limits is replaced by the default one, with a log line.
    void writeSection(QXmlStreamWriter& writer) const;
    void readSection(QXmlStreamReader& reader);
    void readOldCanvas(const QString& rectText);

signals:
    void sig_queryScene();
    void sig_sendScene(GsScene* scene);
    void sig_resetFrame(int64_t frame, EditType edit, bool replay);
    void sig_frontFrameRequest(MoveType type, EditType edit, int64_t times, int64_t fps);
    void sig_backFrameRequest(MoveType type, EditType edit, int64_t times, int64_t fps);
    void sig_audioSourceItem(bool, QString, bool);
    // A voice-over stopped by itself: its file took no more sound (RecordManager).
    void sig_recordCutShort(QString path);
    void sig_controlRecord();
    void sig_controlPlay();
    void sig_updateSceneSize(int width, int height);
    void sig_startExportPrepare();
    void sig_stopExportPrepare();
    void sig_closeMenu();

public slots:
    void slot_startRenderThread();
    void slot_closeRenderThread();
    void slot_exportParam(MVParams* params);
    void slot_recordAudio(bool start);
    void slot_opertorUi(bool playing, bool recording);

private:
    void useProjectCanvas(int64_t width, int64_t height);

    RenderThread* m_renderThread = nullptr;
    PlayerManager* m_player = nullptr; // owned; made by init()
    ExportManager* m_export = nullptr; // owned; made by init()
    RecordManager* m_record = nullptr; // owned; made by init()
    ExportResult m_exportResult;
    GsScene* m_scene = nullptr; // one reference held
    uint32_t m_width = 0;
    uint32_t m_height = 0;
    bool m_sizeLocked = false;
};
