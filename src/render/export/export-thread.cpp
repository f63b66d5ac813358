#include "export-thread.h"

#include "direct-picture.h"

#include "media/media.h"
#include "render/audio/audio-task-manager.h"
#include "render/audio/audio_mixer_player.h"
#include "render/preview-item.h"
#include "value/interface.h"
#include "values/whole-write.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QMutexLocker>
#include <QSet>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>

#include <sys/types.h>

// ---- ExportContext ----

void ExportContext::fail(const QString& reason) {
    QMutexLocker hold(&m_failureLock);
    if (m_failed.load())
        return;
    m_failure = reason;
    m_failed = true;
    LOGE("---> export failed: %s", reason.toUtf8().constData());
}

int64_t ExportContext::soundTo(int64_t total) const {
    return toFrame < 0 ? total : std::min(total, exportfn::timelineFrameOf(toFrame, frameRate));
}

int64_t ExportContext::soundUnits(int64_t total) const {
    return std::max<int64_t>(soundTo(total) - soundFrom(), 0);
}

int64_t ExportContext::outputFrames(int64_t total) const {
    int64_t end = exportfn::outputFrameCount(total, frameRate);
    if (toFrame >= 0)
        end = std::min(end, toFrame);
    return std::max<int64_t>(end - fromFrame, 0);
}

QString ExportContext::failure() const {
    QMutexLocker hold(&m_failureLock);
    return m_failure;
}

// ---- ExportFetchFrame ----

ExportFetchFrame::ExportFetchFrame(ExportContext* context, ExportSource* source, ExportImage* image)
    : m_context(context), m_source(source), m_image(image) {}

void ExportFetchFrame::run() {
    const int rate = m_context->frameRate;
    for (int64_t k = 0; !m_stop; ++k) {
        // Output frame k of the part is frame fromFrame + k of the whole export.
        const int64_t whole = m_context->fromFrame + k;
        const int64_t frame = exportfn::timelineFrameOf(whole, rate);
        ExportPicture answer = m_source->exportPicture(frame);
        readyForComposing(answer.record);
        m_context->total = std::max<int64_t>(answer.totalFrames, 0);
        const bool end = frame >= answer.totalFrames || (m_context->toFrame >= 0 && whole >= m_context->toFrame);
        // Blocks while the image queue is full.
        if (!m_image->enqueue(answer.record, k, end) || end)
            break;
    }
}

void ExportFetchFrame::readyForComposing(ExportFrameRecord& record) {
    const GsDevice* device = GsDevice::DefaultDevice();
    GsScene* scene = m_image->scene();
    if (!device || !device->ConvertsColourOnCpu() || !scene ||
        directPicture(record, scene->width(), scene->height(), m_image->width(), m_image->height()))
        return;
    // The pictures under the layers that are drawn keep their planes.
    const int base = m_image->decodedBase(record).entry;
    // Composed: YUV planes become RGBA here, on the CPU, not on the GPU's
    // thread. A picture given again (a still) gets the same RGBA picture
    // again, so that layers drawn from it are seen to be unchanged.
    std::vector<std::pair<ff::VFramePtr, ff::VFramePtr>> converted;
    for (int i = 0; i < record.size(); ++i) {
        if (i == base)
            continue;
        ExportFrameEntry& entry = record[i];
        for (VFrameInfo* layer : {&entry.props.self, &entry.props.from, &entry.props.to}) {
            if (!layer->frame || layer->frame->planes == 0)
                continue;
            const auto before = std::find_if(m_converted.begin(), m_converted.end(),
                                             [&](const auto& pair) { return pair.first == layer->frame; });
            const ff::VFramePtr rgba = before != m_converted.end() ? before->second : m_toRgba.convert(layer->frame);
            converted.emplace_back(layer->frame, rgba);
            layer->frame = rgba;
        }
    }
    m_converted = std::move(converted);
}

// ---- ExportImage ----

namespace {
// The read-back the movie takes without conversion: its own YUV 4:2:0 where
// it has one and the GPU converts faster, RGBA otherwise.
int pictureFormat(const mv::Movie* movie) {
    const GsDevice* device = GsDevice::DefaultDevice();
    if (device && device->ConvertsColourOnCpu())
        return GsOutputRaw::GsFormatRGBA;
    switch (mv::picture_matrix(movie)) {
    case 709:
        return GsOutputRaw::GsFormatI420BT709;
    case 601:
        return GsOutputRaw::GsFormatI420BT601;
    default:
        return GsOutputRaw::GsFormatRGBA;
    }
}
} // namespace

ExportImage::ExportImage(ExportContext* context, GsScene* scene, int width, int height)
    : GsOutputRaw(scene, width, height, pictureFormat(context->movie)), m_context(context),
      m_writerMatrix(mv::picture_matrix(context->movie)) {}

ExportImage::~ExportImage() {
    wait();
}

void ExportImage::wake() {
    m_queued.release();
    m_context->videoWindow.release(ExportContext::kVideoWindow);
}

bool ExportImage::enqueue(const ExportFrameRecord& record, int64_t outputIndex, bool endOfTimeline) {
    m_freeSlots.acquire();
    if (m_stop)
        return false;
    {
        QMutexLocker hold(&m_queueLock);
        m_queue.enqueue(Queued{record, outputIndex, endOfTimeline});
    }
    m_queued.release();
    return true;
}

void ExportImage::openAudioTo(int64_t to) {
    if (to > m_audioOpened) {
        m_context->audioGate.release(int(to - m_audioOpened));
        m_audioOpened = to;
    }
}

void ExportImage::run() {
    Start();
    const int rate = m_context->frameRate;
    int countdown = kDisplayCountdown;
    bool reachedEnd = false;
    while (!m_stop) {
        m_queued.acquire();
        if (m_stop)
            break;
        Queued next;
        {
            QMutexLocker hold(&m_queueLock);
            if (m_queue.isEmpty())
                continue;
            next = m_queue.dequeue();
        }
        m_freeSlots.release();
        if (next.end) {
            reachedEnd = true;
            break;
        }
        const int64_t timestamp = exportfn::frameTimestampNs(next.outputIndex, rate);
        m_context->timestamp = timestamp;
        if (const ff::VFramePtr direct = directFrame(next.record)) {
            // One clip as it is: the writer takes its picture without the GPU.
            {
                GsDeviceScope scope;
                if (scope.ok())
                    Flush(); // the pictures drawn before it go first
            }
            writeDirect(direct, next.outputIndex);
            if (!holdPictureFor(next.outputIndex))
                break;
            continue;
        }
        const DecodedBase base = decodedBase(next.record);
        if (base.entry >= 0) {
            // The layers over clips as decoded: only they are drawn.
            const bool written = writeOverlaid(next.record, base, next.outputIndex);
            if (!written)
                LOGW("export: frame %lld could not be made from decoded planes; it is composed",
                     static_cast<long long>(next.outputIndex));
            if (written) {
                if (!holdPictureFor(next.outputIndex))
                    break;
                continue;
            }
        }
        applyRecord(next.record, -1);
        TickSource();
        HandleFilter();
        if (countdown == 0) {
            DrawDisplay();
            countdown = kDisplayCountdown;
        } else {
            --countdown;
        }
        OutputFrame(timestamp, 1);
        if (!holdPictureFor(next.outputIndex))
            break;
    }
    // Delivers the last pictures still being read back.
    Stop();
    if (m_directPictures > 0)
        LOGD("export: %lld pictures went to the writer as decoded, without composing",
             static_cast<long long>(m_directPictures));
    if (m_overlaidPictures > 0)
        LOGD("export: %lld pictures were made from decoded planes, with what lies over them drawn %lld times",
             static_cast<long long>(m_overlaidPictures), static_cast<long long>(m_layersDrawn));
    if (reachedEnd) {
        // The sound runs to the timeline's end, then one more step to hear that it ended.
        openAudioTo(m_context->soundUnits(std::max<int64_t>(m_context->total.load(), 0)));
        m_context->audioGate.release();
    }
}

void ExportImage::applyRecord(const ExportFrameRecord& record, int hidden) {
    // The items stay alive: nothing edits the timeline during an export.
    bool restack = false;
    for (int i = 0; i < record.size(); ++i) {
        const ExportFrameEntry& entry = record[i];
        if (!entry.item)
            continue;
        if (i == hidden) {
            // Not drawn, and its picture is not uploaded either.
            entry.item->applyRenderProps(RenderProps());
        } else {
            entry.item->applyRenderProps(entry.props);
        }
        // Set every time: an item's transition layer takes the stacking
        // too, and nothing before the export may have set it.
        if (entry.stacked) {
            entry.item->setStacking(entry.stacking);
            restack = true;
        }
    }
    // Each frame stacks as its own clips do, whatever the preview last showed.
    if (restack && scene())
        scene()->OrderItem();
}

DecodedBase ExportImage::decodedBase(const ExportFrameRecord& record) const {
    const GsDevice* device = GsDevice::DefaultDevice();
    GsScene* s = scene();
    // Where a GPU converts colours, composing the whole picture there is the cheaper way.
    if (!device || !device->ConvertsColourOnCpu() || !s)
        return {};
    return ::decodedBase(record, s->width(), s->height(), width(), height(), m_writerMatrix);
}

bool ExportImage::writeOverlaid(const ExportFrameRecord& record, const DecodedBase& base, int64_t outputIndex) {
    {
        GsDeviceScope scope;
        if (!scope.ok())
            return false;
        Flush(); // the pictures drawn before it go first
        // The layers of the last frame serve again while they are alike.
        if (m_layerBase != base.entry || !layersAlike(m_layerRecord, record, base.entry)) {
            m_layerBase = -1;
            applyRecord(record, base.entry);
            TickSource();
            HandleFilter();
            GsPixelRect drawn;
            std::vector<uint8_t> layer; // made ready below, then not needed
            if (!CaptureLayer(&layer, &drawn))
                return false;
            m_overlay.setLayer(layer.data(), drawn, m_writerMatrix);
            ++m_layersDrawn;
            m_layerRecord = record;
            // Not kept: the decoder's pool takes its pictures back.
            m_layerRecord[base.entry].props = RenderProps();
            m_layerBase = base.entry;
        }
    }
    if (!mixPlanes(*base.from, base.to.get(), base.progress, &m_overlaid) ||
        !m_overlay.layOnto(m_overlaid.data(), width(), height()))
        return false;
    ++m_overlaidPictures;
    deliver(outputIndex, [&](int64_t pts) {
        return exportfn::pushPlanes(m_context->movie, m_overlaid.data(), width(), height(), pts);
    });
    return true;
}

bool ExportImage::holdPictureFor(int64_t outputIndex) {
    // The picture stands until the next output frame's time: the sound
    // may follow that far, and the pictures may not lead it further. Past
    // the sound's end (the last picture of a low rate reaches beyond the
    // timeline) there is no sound to follow, and nothing to wait for.
    const int64_t soundEnd = m_context->soundUnits(std::max<int64_t>(m_context->total.load(), 0));
    const int64_t until = std::min(
        exportfn::timelineFrameOf(m_context->fromFrame + outputIndex + 1, m_context->frameRate) -
            m_context->soundFrom(),
        soundEnd);
    // One unit at a time: at a low rate one picture stands for more units
    // than the window holds (30 at 1 fps), and a larger acquire than that
    // would never be granted; wake() stops the wait just as well.
    while (m_audioOpened < until) {
        m_context->videoWindow.acquire();
        if (m_stop)
            return false;
        openAudioTo(m_audioOpened + 1);
    }
    return !m_stop;
}

void ExportImage::deliver(int64_t k, const std::function<QString(int64_t pts)>& push) {
    const int64_t count = m_context->outputFrames(m_context->total.load());
    if (k < count && !m_context->failed()) {
        const QString failure = push(exportfn::picturePtsUs(k, m_context->frameRate));
        if (failure.isEmpty())
            m_context->picturesPushed = k + 1;
        else
            m_context->fail(failure);
    }
    emit sig_processUpdate(int(k), int(count));
}

void ExportImage::OnFrame(int width, int height, const uint8_t* pixels, int bytesPerRow, int64_t timestamp) {
    deliver(exportfn::frameOfTimestamp(timestamp, m_context->frameRate), [&](int64_t pts) {
        return format() == GsFormatRGBA ? exportfn::pushPicture(m_context->movie, pixels, bytesPerRow, height, pts)
                                        : exportfn::pushPlanes(m_context->movie, pixels, width, height, pts);
    });
}

ff::VFramePtr ExportImage::directFrame(const ExportFrameRecord& record) const {
    GsScene* s = scene();
    ff::VFramePtr frame = s ? directPicture(record, s->width(), s->height(), width(), height()) : nullptr;
    if (!frame || frame->planes == 0 || planesFitWriter(*frame, m_writerMatrix))
        return frame;
    // Planes the writer cannot take are converted on the way; a GPU that
    // converts colours does that faster by composing them.
    const GsDevice* device = GsDevice::DefaultDevice();
    return device && device->ConvertsColourOnCpu() ? frame : nullptr;
}

void ExportImage::writeDirect(const ff::VFramePtr& frame, int64_t outputIndex) {
    ++m_directPictures;
    deliver(outputIndex, [&](int64_t pts) {
        if (planesFitWriter(*frame, m_writerMatrix))
            return exportfn::pushPlanes(m_context->movie, *frame, pts);
        // RGBA as decoded, or planes the writer converts from RGBA.
        const ff::VFramePtr rgba = m_toRgba.convert(frame);
        if (!rgba)
            return QStringLiteral("a picture could not be converted for the writer");
        return exportfn::pushPicture(m_context->movie, rgba->data(), rgba->stride, rgba->height, pts);
    });
}

// ---- ExportAudio ----

ExportAudio::ExportAudio(ExportContext* context, ExportSource* source, bool audioOnly)
    : m_context(context), m_source(source), m_audioOnly(audioOnly) {}

ExportAudio::~ExportAudio() {
    wait();
}

void ExportAudio::mixStep(const QList<AudioFrameData>& sounds, int64_t index, int64_t unitsPerSecond) {
    // The part's sound starts at its own time 0.
    const int64_t step = index - m_context->soundFrom();
    if (m_context->noSound) {
        m_context->soundsPushed = step + 1;
        if (!m_audioOnly)
            m_context->videoWindow.release();
        return;
    }
    AudioMixerPlayer* mixer = AudioMixerPlayer::instance();
    mixer->begin(index, 1, int(unitsPerSecond));
    m_tasks->mix(sounds);
    QString failure;
    mixer->end([&](const ff::PcmBuffer& pcm) {
        if (!m_context->failed())
            failure = exportfn::pushSound(m_context->movie, pcm.data, pcm.size,
                                          exportfn::soundPtsUs(step, unitsPerSecond));
    });
    if (!failure.isEmpty())
        m_context->fail(failure);
    else
        m_context->soundsPushed = step + 1;
    if (!m_audioOnly)
        m_context->videoWindow.release();
}

int64_t ExportAudio::decodedSince(int64_t from) {
    QSet<QString> files;
    for (const AudioFrameData& sound : m_source->exportSound(from, exportfn::kUnitsPerSecond).sounds)
        files.insert(sound.path);
    int64_t since = from;
    while (since > 0 && !files.isEmpty() && !m_stop) {
        const QList<AudioFrameData> before = m_source->exportSound(since - 1, exportfn::kUnitsPerSecond).sounds;
        if (std::none_of(before.begin(), before.end(),
                         [&files](const AudioFrameData& sound) { return files.contains(sound.path); }))
            break;
        --since;
    }
    return since;
}

void ExportAudio::run() {
    m_tasks = new AudioTaskManager;
    AudioMixerPlayer* mixer = AudioMixerPlayer::instance();
    mixer->open(exportfn::kChannels, exportfn::kSampleRate, ff::SF_S16, false);
    const int64_t from = m_context->soundFrom();
    // A part's sound is the whole export's at the same instants. A file's
    // decoder lives while the file sounds without a break, and a decoder
    // that starts mid-file (a seek, a codec's own warm-up, a resampler
    // taking up its phase) does not give the samples that decoding on from
    // where the file began to sound gives. So the files sounding at the
    // part's start are decoded, unheard, from there.
    if (from > 0 && !m_context->noSound) {
        for (int64_t index = decodedSince(from); index < from && !m_stop; ++index) {
            const QList<AudioFrameData> sounds = m_source->exportSound(index, exportfn::kUnitsPerSecond).sounds;
            mixer->begin(index, 1, exportfn::kUnitsPerSecond);
            m_tasks->mix(sounds);
            mixer->end();
        }
    }
    for (int64_t index = from; !m_stop && !m_context->failed(); ++index) {
        if (!m_audioOnly) {
            m_context->audioGate.acquire();
            if (m_stop)
                break;
        }
        const ExportSound answer = m_source->exportSound(index, exportfn::kUnitsPerSecond);
        const int64_t total = std::max<int64_t>(answer.totalFrames, 0);
        m_context->total = total;
        if (m_audioOnly)
            emit sig_processUpdate(int(index - from), int(m_context->soundUnits(total)));
        if (index >= m_context->soundTo(total))
            break;
        const int64_t limit = m_context->soundLimit.load();
        if (limit >= 0 && index - from >= limit)
            break;
        mixStep(answer.sounds, index, exportfn::kUnitsPerSecond);
    }
    mixer->stop();
    delete m_tasks;
    m_tasks = nullptr;
}

// ---- ExportManager ----

ExportManager::ExportManager(QObject* parent) : QObject(parent) {}

ExportManager::~ExportManager() = default;

void ExportManager::report(const ExportContext& context, bool audioOnly) {
    if (!m_progress)
        return;
    const int64_t total = context.total.load();
    if (audioOnly)
        m_progress(context.soundsPushed.load(), total < 0 ? 0 : context.soundUnits(total));
    else
        m_progress(context.picturesPushed.load(), total < 0 ? 0 : context.outputFrames(total));
}

void ExportManager::checkMedia(ExportContext& context) const {
    for (const std::string& failed : ff::mediaOpenFailures(m_failuresBefore)) {
        const QString path = QString::fromStdString(failed);
        if (m_watchedMedia.contains(path)) {
            context.fail(QStringLiteral("%1 could not be read during the export (moved, deleted or unreachable)")
                             .arg(path));
            return;
        }
    }
}

ExportResult ExportManager::runAudioOnly(ExportContext& context) {
    auto* audio = new ExportAudio(&context, m_source, true);
    audio->start(QThread::InheritPriority);
    while (!audio->isFinished() && !m_stopNow && !context.failed()) {
        report(context, true);
        checkMedia(context);
        audio->wait(QDeadlineTimer(kProgressIntervalMs));
    }
    // Wake it once wherever it waits, then join.
    audio->setStop();
    context.audioGate.release();
    audio->wait();
    delete audio;
    report(context, true);
    ExportResult result;
    const int64_t total = context.total.load();
    result.stoppedEarly = total < 0 || context.soundsPushed.load() < context.soundUnits(total);
    return result;
}

ExportResult ExportManager::runVideo(ExportContext& context, GsScene* scene, int width, int height) {
    auto* image = new ExportImage(&context, scene, width, height);
    auto* fetch = new ExportFetchFrame(&context, m_source, image);
    auto* audio = new ExportAudio(&context, m_source, false);
    image->start(QThread::InheritPriority);
    fetch->start(QThread::InheritPriority);
    audio->start(QThread::InheritPriority);
    while (!(image->isFinished() && audio->isFinished()) && !m_stopNow && !context.failed()) {
        report(context, false);
        checkMedia(context);
        image->wait(QDeadlineTimer(kProgressIntervalMs));
    }
    // Every flag first, so that no woken thread blocks again; then each is
    // woken once where it may wait and joined, fetcher, image, audio.
    const bool finishing = m_stopNow && !m_cancel && !context.failed();
    fetch->setStop();
    image->setStop();
    if (!finishing)
        audio->setStop();
    image->wakeProducer();
    fetch->wait();
    image->wake();
    image->wait();
    if (finishing) {
        // Finished early: the sound, which may lag the pictures by a few
        // steps, is written on to the end of the last picture, no further.
        const int64_t total = std::max<int64_t>(context.total.load(), 0);
        const int64_t end = std::min(
            exportfn::timelineFrameOf(context.fromFrame + context.picturesPushed.load(), context.frameRate) -
                context.soundFrom(),
            context.soundUnits(total));
        context.soundLimit = std::max<int64_t>(end, 0);
        context.audioGate.release(int(std::max<int64_t>(end - context.soundsPushed.load(), 0)) + 1);
        while (!audio->isFinished() && !m_cancel && !context.failed()) {
            report(context, false);
            audio->wait(QDeadlineTimer(kProgressIntervalMs));
        }
        audio->setStop();
    }
    context.audioGate.release();
    audio->wait();
    delete fetch;
    image->Release();
    delete audio;
    report(context, false);
    ExportResult result;
    const int64_t total = context.total.load();
    result.stoppedEarly =
        total < 0 || context.picturesPushed.load() < context.outputFrames(total) ||
        context.soundsPushed.load() < context.soundUnits(total);
    return result;
}

namespace {
// Removes the hidden files that exports of `target` (a movie of the kind
// `extension` names) killed outright (no chance to clean up) left beside it:
// ".film.korvel-<pid>.mp4" of a process that no longer runs here, untouched
// for a while (an export on another machine writing to a shared folder
// keeps its file fresh).
void removeLeftovers(const QFileInfo& target, const QString& extension) {
    constexpr qint64 kQuietSeconds = 600;
    const QString prefix = QStringLiteral(".%1.korvel-").arg(target.completeBaseName());
    const QString suffix = QLatin1Char('.') + extension;
    const QDir folder(target.absolutePath());
    for (const QFileInfo& file : folder.entryInfoList({QStringLiteral(".*.korvel-*")}, QDir::Files | QDir::Hidden)) {
        const QString name = file.fileName();
        if (!name.startsWith(prefix, Qt::CaseSensitive) || !name.endsWith(suffix, Qt::CaseSensitive) ||
            name.size() <= prefix.size() + suffix.size())
            continue;
        const QString digits = name.mid(prefix.size(), name.size() - prefix.size() - suffix.size());
        if (!std::all_of(digits.begin(), digits.end(), [](QChar c) { return c >= '0' && c <= '9'; }))
            continue;
        const qint64 pid = digits.toLongLong();
        if (pid <= 0 || pid == QCoreApplication::applicationPid() ||
            file.lastModified().secsTo(QDateTime::currentDateTime()) < kQuietSeconds)
            continue;
        if (::kill(pid_t(pid), 0) != 0 && errno == ESRCH && QFile::remove(file.filePath()))
            LOGW("---> removed %s, left by an export that was killed", qUtf8Printable(file.filePath()));
    }
}
} // namespace

ExportResult ExportManager::Export(MVParams* params, GsScene* scene) {
    ExportResult result;
    if (!params) {
        result.reason = QStringLiteral("no export parameters");
        LOGE("---> export without parameters");
        return result;
    }
    result.path = exportfn::exportPath(*params);
    LOGD("--->导出路径：[%s]", result.path.toUtf8().constData());
    if (m_running.exchange(true)) {
        result.reason = QStringLiteral("an export is already running");
        LOGW("---> %s", result.reason.toUtf8().constData());
        return result;
    }
    m_stopNow = false;
    m_cancel = false;
    if (!params->audioOnly && !scene) {
        result.reason = QStringLiteral("no scene to draw");
    } else if (!m_source) {
        result.reason = QStringLiteral("no timeline to ask for frames");
    } else if (!params->audioOnly &&
               (params->width < exportfn::kMinSide || params->height < exportfn::kMinSide ||
                params->width > exportfn::kMaxSide || params->height > exportfn::kMaxSide || params->width % 2 ||
                params->height % 2)) {
        result.reason = QStringLiteral("a picture of %1 x %2 pixels cannot be exported: each side must be even, "
                                       "from %3 to %4 pixels")
                            .arg(params->width)
                            .arg(params->height)
                            .arg(exportfn::kMinSide)
                            .arg(exportfn::kMaxSide);
    } else if (!params->audioOnly &&
               (params->frameRate < exportfn::kMinFrameRate || params->frameRate > exportfn::kMaxFrameRate)) {
        result.reason = QStringLiteral("%1 frames a second cannot be exported (%2 to %3)")
                            .arg(params->frameRate)
                            .arg(exportfn::kMinFrameRate)
                            .arg(exportfn::kMaxFrameRate);
    }
    if (!result.reason.isEmpty()) {
        LOGE("---> 初始化编码器出错: %s", result.reason.toUtf8().constData());
        m_running = false;
        return result;
    }

    // The movie is written under a hidden name beside the output and takes
    // the output's name only once it is whole: a file already there survives
    // any failure.
    MVParams working = *params;
    // An output that is a symbolic link is written through, as the project
    // is: the file it names gets the movie and the link stays.
    const QString written = writtenPath(result.path);
    const QFileInfo target(written);
    // The kind of file is the one the output's own name asks for.
    const QString extension = QFileInfo(result.path).suffix();
    const QString partial = QStringLiteral("%1/.%2.korvel-%3.%4")
                                .arg(target.absolutePath(), target.completeBaseName())
                                .arg(QCoreApplication::applicationPid())
                                .arg(extension);
    // Written in place, a failure or a cancel would destroy the file there.
    if (!exportfn::setExportPath(working, partial)) {
        result.reason = QStringLiteral("the output's path is too long (%1 bytes with its temporary name; at most %2)")
                            .arg(partial.toUtf8().size())
                            .arg(sizeof(working.filePath) - 1);
        LOGE("---> %s", result.reason.toUtf8().constData());
        m_running = false;
        return result;
    }

    removeLeftovers(target, extension);

    ExportContext context;
    context.movie = exportfn::openMovie(working, &result.reason);
    if (!context.movie) {
        result.reason.replace(partial, result.path);
        LOGE("---> 初始化编码器出错: %s", result.reason.toUtf8().constData());
        QFile::remove(partial);
        m_running = false;
        return result;
    }
    result.started = true;
    context.frameRate = params->audioOnly ? exportfn::kUnitsPerSecond : params->frameRate;
    context.playRate = params->playRate;
    context.fromFrame = params->fromFrame;
    context.toFrame = params->toFrame;
    context.noSound = params->videoOnly && !params->audioOnly;
    const QStringList media = m_source->mediaFiles();
    m_watchedMedia = QSet<QString>(media.begin(), media.end());
    m_failuresBefore = ff::mediaOpenFailures().size();
    const ExportResult run =
        params->audioOnly ? runAudioOnly(context) : runVideo(context, scene, params->width, params->height);
    result.stoppedEarly = run.stoppedEarly;
    // A failure after the last look, before the last frame.
    if (!m_cancel)
        checkMedia(context);

    LOGD("---> 导出结束");
    // The trailer, the last flush and the close: a failure there (a full
    // disk) is the export's failure, and the writer removes the file.
    const bool finished = mv::stop_movie(&context.movie);
    context.movie = nullptr;

    const QFileInfo file(partial);
    if (m_cancel) {
        result.cancelled = true;
        result.reason = QStringLiteral("the export was cancelled");
    } else if (context.failed()) {
        result.reason = context.failure();
        result.reason.replace(partial, result.path);
    } else if (context.total.load() == 0) {
        result.reason = QStringLiteral("the timeline is empty: there is nothing to export");
        LOGW("---> %s", result.reason.toUtf8().constData());
    } else if ((params->audioOnly ? context.soundUnits(context.total.load())
                                  : context.outputFrames(context.total.load())) == 0) {
        result.reason = QStringLiteral("the part to export lies past the timeline's end");
        LOGW("---> %s", result.reason.toUtf8().constData());
    } else if (!finished) {
        result.reason = QStringLiteral("the export file could not be finished; the disk may be full");
        LOGE("---> 生成文件失败:[%s]", result.path.toUtf8().constData());
    } else if (!file.isFile() || file.size() == 0) {
        result.reason = QStringLiteral("the export file was not generated");
        LOGE("---> 生成文件失败:[%s]", result.path.toUtf8().constData());
    } else {
        result.ok = true;
    }
    // The new file keeps the access the user gave the old one.
    if (result.ok && QFileInfo::exists(written) && !QFileInfo(written).isDir())
        QFile::setPermissions(partial, QFile::permissions(written));
    // rename() replaces the old file in one step: it is never half there.
    if (result.ok && std::rename(partial.toUtf8().constData(), written.toUtf8().constData()) != 0) {
        result.ok = false;
        result.reason = QStringLiteral("the export could not take the name %1: %2")
                            .arg(result.path, QString::fromLocal8Bit(std::strerror(errno)));
        LOGE("---> %s", result.reason.toUtf8().constData());
    }
    if (!result.ok)
        QFile::remove(partial);
    m_running = false;
    return result;
}
