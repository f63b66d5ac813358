#include "project-harness.h"

#include "main/main-window.h"
#include "main/project-file.h"
#include "render/render-manager.h"
#include "resource/material-view.h"
#include "resource/resource-widget.h"
#include "timeline/source-data.h"
#include "timeline/timeline-tree-model.h"
#include "timeline/timeline-widget.h"
#include "timeline/transition-data.h"
#include "undo/undo-controller.h"

#include <cstdlib>

#include <QApplication>
#include <QBuffer>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QMessageBox>
#include <QSet>
#include <QTemporaryDir>
#include <QXmlStreamReader>
#include <QXmlStreamWriter>

#include <cmath>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <unistd.h>

namespace fuzz {
namespace {

int g_report = 2; // the harness's own standard error
void (*g_removeFolders)() = nullptr; // set once the harness stands

[[noreturn]] void fail(const char* format, ...) __attribute__((format(printf, 1, 2)));
void fail(const char* format, ...) {
    char line[1024];
    va_list args;
    va_start(args, format);
    std::vsnprintf(line, sizeof line, format, args);
    va_end(args);
    dprintf(g_report, "project harness: %s\n", line);
    if (g_removeFolders)
        g_removeFolders();
    std::abort();
}

// What every reader promises about the timeline it leaves, whatever it read.
void checkTimeline(const TimeLineTreeModel& model) {
    QSet<const SourceData*> seen;
    int clips = 0;
    for (ClassifyItem* track : model.tracks()) {
        if (!track->isHeader() && track->parentItem()->children().size() > timeline::kMaxAddedTracks)
            fail("more than %d tracks of type %u", timeline::kMaxAddedTracks, track->kind());
        int64_t end = 0;
        for (const SourceData* clip : track->sources()) {
            ++clips;
            if (seen.contains(clip) || clip->parentTrack() != track)
                fail("a clip on two tracks, or on a track it does not name");
            seen.insert(clip);
            if (uint32_t(clip->type()) != track->kind())
                fail("a clip of type %u on a track of type %u", uint32_t(clip->type()), track->kind());
            const int64_t start = clip->startFrame(), length = clip->lengthFrames();
            if (start < end)
                fail("clips overlap at frame %lld", static_cast<long long>(start));
            if (length < 1 || clip->offset() < 0 || clip->endFrame() > timeline::kMaxFrames)
                fail("clip at %lld of %lld frames, offset %lld, outside the timeline", static_cast<long long>(start),
                     static_cast<long long>(length), static_cast<long long>(clip->offset()));
            if (clip->originalDuration() < clip->offset() + length)
                fail("clip longer than its media");
            if (clip->volume() < 0 || clip->volume() > timeline::kMaxVolume || clip->transparent() < 0 ||
                clip->transparent() > timeline::kMaxOpacity || clip->backgroundTransparent() < 0 ||
                clip->backgroundTransparent() > timeline::kMaxOpacity || clip->stretch() < 0 ||
                clip->stretch() > timeline::kMaxStretch || std::abs(clip->rotate()) >= 360)
                fail("clip setting outside its panel's range");
            for (int colour : {clip->temperature(), clip->saturation(), clip->hue(), clip->contrast(), clip->bright()})
                if (colour < timeline::kColourControlMin || colour > timeline::kColourControlMax)
                    fail("colour control %d outside its range", colour);
            if (clip->highlight() < timeline::kHighlightMin || clip->highlight() > timeline::kHighlightMax)
                fail("highlight %d outside its range", clip->highlight());
            const QRectF place = clip->previewRect();
            for (double v : {place.x(), place.y(), place.width(), place.height()})
                if (!std::isfinite(v))
                    fail("placement is not a number");
            end = clip->endFrame();
        }
    }
    if (clips > timeline::kMaxClips)
        fail("%d clips, more than %d", clips, timeline::kMaxClips);
    for (const TransitionObject* t : model.transitions()) {
        const TransitionData* d = t->data();
        if ((!d->from() && !d->to()) || d->from() == d->to())
            fail("transition without two distinct ends");
        for (const SourceData* clip : {d->from(), d->to()})
            if (clip && !seen.contains(clip))
                fail("transition names a clip that is not on the timeline");
        if (d->ratio < 0 || d->ratio > 10 || d->durationframe < 0)
            fail("transition ratio %d or duration %lld out of range", d->ratio,
                 static_cast<long long>(d->durationframe));
    }
}

class ProjectHarness {
public:
    ProjectHarness(int* argc, char*** argv) {
        // No display, no user's settings or logs, nothing left behind.
        qputenv("QT_QPA_PLATFORM", "offscreen");
        m_folder = std::make_unique<QTemporaryDir>();
        qputenv("KORVEL_CONFIG_DIR", (m_folder->path() + "/config").toUtf8());
        qputenv("KORVEL_STATE_DIR", (m_folder->path() + "/state").toUtf8());
        m_app = std::make_unique<QApplication>(*argc, *argv);
        m_render = std::make_unique<RenderManager>();
        m_window = std::make_unique<MainWindow>(m_render.get());
        m_window->setAutoSaveEnabled(false);
        TimeLineTreeModel* model = m_window->timelineWidget()->model();
        // No decoding workers and no preview pictures: neither reads the project.
        model->setPreviewItemsEnabled(false);
        for (ClassifyItem* track : model->tracks())
            track->dropPreviewItem();
        QObject::disconnect(&zya::UndoController::instance()->stack, &QUndoStack::indexChanged,
                            m_window->timelineWidget(), nullptr);
        model->setMediaProbe([](const QString& path) {
            bg::ValueMap info;
            const bool readable = !path.contains(QLatin1String("missing"));
            info["valid"] = bg::Value(readable);
            if (readable) {
                info["duration"] = bg::Value(int64_t(10000));
                info["pix"] = bg::Value(int64_t(300));
                info["width"] = bg::Value(640);
                info["height"] = bg::Value(360);
            }
            return info;
        });
        // Saving syncs the file to the disk; memory makes that free.
        const QString memory = QStringLiteral("/dev/shm");
        m_saveFolder = std::make_unique<QTemporaryDir>(
            (QFileInfo(memory).isWritable() ? memory : QDir::tempPath()) + "/korvel-fuzz-XXXXXX");
        m_path = m_saveFolder->path() + "/round-trip.zya2";
    }

    void run(ProjectInput kind, const QByteArray& bytes) {
        clear();
        const bool whole = kind == ProjectInput::Project || kind == ProjectInput::OldProject;
        if (whole) {
            QBuffer file;
            file.setData(bytes);
            file.open(QIODevice::ReadOnly);
            const auto onRoot = [](bool) {};
            if (kind == ProjectInput::Project)
                project::readProject(file, *m_window->projectSections(), onRoot);
            else
                project::readOldProject(file, *m_window->projectSections(), onRoot);
        } else {
            readSection(kind, bytes);
        }
        settle();
        checkAll();
        // Whatever was read, and how much of it, saving and opening it keeps it.
        const QByteArray first = write(kind);
        clear();
        if (whole) {
            QBuffer file;
            file.setData(first);
            file.open(QIODevice::ReadOnly);
            if (!project::readProject(file, *m_window->projectSections(), [](bool) {}))
                fail("a written project does not read back");
        } else {
            readSection(kind, first);
        }
        settle();
        checkAll();
        const QByteArray second = write(kind);
        if (second != first) {
            int at = 0;
            while (at < first.size() && at < second.size() && first[at] == second[at])
                ++at;
            fail("written, read and written again differs at byte %d:\n%s\n---\n%s", at,
                 first.mid(std::max(0, at - 200), 400).constData(), second.mid(std::max(0, at - 200), 400).constData());
        }
    }

    void removeFolders() {
        m_saveFolder->remove();
        m_folder->remove();
    }

private:
    void readSection(ProjectInput kind, const QByteArray& bytes) {
        QXmlStreamReader reader(bytes);
        if (!reader.readNextStartElement())
            return;
        if (kind == ProjectInput::ResourceSection)
            m_window->projectSections()->readResource(reader);
        else
            m_window->projectSections()->readTimeline(reader);
    }

    QByteArray write(ProjectInput kind) {
        if (kind == ProjectInput::Project || kind == ProjectInput::OldProject) {
            QString error;
            if (!project::writeProject(m_path, *m_window->projectSections(), project::ArchiveMark::None, false, &error))
                fail("the project cannot be written: %s", qUtf8Printable(error));
            QFile file(m_path);
            if (!file.open(QIODevice::ReadOnly))
                fail("the written project cannot be opened");
            return file.readAll();
        }
        QByteArray bytes;
        QXmlStreamWriter writer(&bytes);
        writer.setAutoFormatting(true);
        if (kind == ProjectInput::ResourceSection) {
            writer.writeStartElement(QStringLiteral("Resource"));
            m_window->projectSections()->writeResource(writer, false);
        } else {
            writer.writeStartElement(QStringLiteral("Timeline"));
            m_window->projectSections()->writeTimeline(writer, false);
        }
        writer.writeEndElement();
        return bytes;
    }

    void checkAll() {
        checkTimeline(*m_window->timelineWidget()->model());
        const uint32_t width = m_render->sceneWidth(), height = m_render->sceneHeight();
        if ((!RenderManager::isUsableSceneSize(width, height) || width % 2 || height % 2))
            fail("canvas %ux%u", width, height);
    }

    // Work the readers handed to the event loop (the library's notices,
    // deferred deletions) is done before anything is compared.
    void settle() {
        QCoreApplication::processEvents();
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    }

    // An empty project, an empty history, and no notice boxes piling up.
    void clear() {
        m_window->projectSections()->clearSections();
        m_render->setSceneSize(RenderManager::kDefaultSceneWidth, RenderManager::kDefaultSceneHeight, false);
        zya::UndoController::instance()->reset();
        for (QWidget* widget : QApplication::topLevelWidgets()) {
            if (qobject_cast<QMessageBox*>(widget))
                widget->deleteLater();
        }
        settle();
    }

    std::unique_ptr<QTemporaryDir> m_folder;
    std::unique_ptr<QTemporaryDir> m_saveFolder;
    std::unique_ptr<QApplication> m_app;
    std::unique_ptr<RenderManager> m_render;
    std::unique_ptr<MainWindow> m_window;
    QString m_path;
};

ProjectHarness* g_harness = nullptr; // lives until the process ends

} // namespace

void initProjectHarness(int* argc, char*** argv) {
    // libFuzzer may close standard error later; failures need a way out.
    const int copy = dup(2);
    if (copy >= 0)
        g_report = copy;
    g_harness = new ProjectHarness(argc, argv);
    // libFuzzer ends by exit() and the harness is never destroyed: its
    // folders (one of them in memory) go when the process does, and when a
    // check fails.
    g_removeFolders = [] { g_harness->removeFolders(); };
    std::atexit(g_removeFolders);
}

void readProjectInput(ProjectInput kind, const uint8_t* data, size_t size) {
    if (!g_harness)
        fail("initProjectHarness was not called");
    g_harness->run(kind, QByteArray(reinterpret_cast<const char*>(data), int(size)));
}

} // namespace fuzz
