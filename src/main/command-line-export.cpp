#include "command-line-export.h"

#include "project-file.h"
#include "render/export/export-function.h"
#include "render/export/export-thread.h"
#include "render/render-manager.h"
#include "timeline/frame-dispatcher.h"
#include "timeline/subtitle-file.h"
#include "timeline/subtitle-import.h"
#include "termination-watcher.h"
#include "undo/undo-controller.h"
#include "value/interface.h"
#include "zyapp.h"

#include <QFileInfo>
#include <QRegularExpression>

#include <algorithm>
#include <cmath>
#include <csignal>
#include <cstdio>

#include <sys/prctl.h>
#include <unistd.h>

namespace {

void say(const QString& line) {
    std::fprintf(stderr, "%s\n", qUtf8Printable(line));
}

} // namespace

QString exportUsage() {
    return QStringLiteral("usage: korvel --export PROJECT OUTPUT [--fps N] [--size WxH] [--bitrate KBITS] "
                          "[--speed RATE] [--from FRAME] [--to FRAME] [--video-only | --audio-only] [--srt] [--keyint N] "
                          "[--progress]\n"
                          "  OUTPUT: .mp4 or .avi (a movie), .mp3, .wav or .flac (sound only)\n"
                          "  --speed RATE: play RATE times as fast, 0.25 to 4 (the frame rate is --fps times RATE)\n"
                          "  --from, --to: write output frames [FRAME, FRAME) of the whole export at --fps\n"
                          "  --video-only: a movie without sound; --audio-only: the sound alone\n"
                          "  --keyint N: a key frame every N output frames exactly, none at scene cuts\n"
                          "  --progress: also print \"progress DONE TOTAL\" lines on the standard output");
}

bool parseExportSize(const QString& value, int* width, int* height) {
    const QRegularExpressionMatch m = QRegularExpression(QStringLiteral("^(\\d{1,5})x(\\d{1,5})$")).match(value);
    if (!m.hasMatch())
        return false;
    *width = m.captured(1).toInt();
    *height = m.captured(2).toInt();
    return *width >= exportfn::kMinSide && *height >= exportfn::kMinSide && *width <= exportfn::kMaxSide &&
           *height <= exportfn::kMaxSide;
}

QString exportOptionRange(const QString& option) {
    if (option == QLatin1String("--fps"))
        return QStringLiteral("a whole number of frames a second from %1 to %2")
            .arg(exportfn::kMinFrameRate)
            .arg(exportfn::kMaxFrameRate);
    if (option == QLatin1String("--size"))
        return QStringLiteral("WIDTHxHEIGHT, each from %1 to %2 pixels").arg(exportfn::kMinSide).arg(exportfn::kMaxSide);
    if (option == QLatin1String("--bitrate"))
        return QStringLiteral("kbit/s from 0 (constant quality) to 1000000");
    if (option == QLatin1String("--from") || option == QLatin1String("--to"))
        return QStringLiteral("an output frame number, 0 or more");
    if (option == QLatin1String("--keyint"))
        return QStringLiteral("frames from 1 to 100000");
    if (option == QLatin1String("--speed"))
        return QStringLiteral("from 0.25 to 4");
    return QString();
}

bool parseExportCommand(const QStringList& arguments, ExportCommand* command, QString* error) {
    QStringList rest;
    bool toGiven = false;
    for (int i = 0; i < arguments.size(); ++i) {
        const QString& a = arguments.at(i);
        const bool option = a.startsWith(QLatin1String("--"));
        if (!option) {
            rest << a;
            continue;
        }
        // The options without a value.
        if (a == QLatin1String("--srt")) {
            command->srt = true;
            continue;
        }
        if (a == QLatin1String("--video-only")) {
            command->videoOnly = true;
            continue;
        }
        if (a == QLatin1String("--audio-only")) {
            command->audioOnly = true;
            continue;
        }
        if (a == QLatin1String("--progress")) {
            command->progressLines = true;
            continue;
        }
        if (exportOptionRange(a).isEmpty()) {
            *error = QStringLiteral("unknown option %1").arg(a);
            return false;
        }
        if (i + 1 >= arguments.size()) {
            *error = QStringLiteral("%1 needs a value").arg(a);
            return false;
        }
        const QString value = arguments.at(++i);
        bool ok = false;
        if (a == QLatin1String("--fps")) {
            command->fps = value.toInt(&ok);
            ok = ok && command->fps >= exportfn::kMinFrameRate && command->fps <= exportfn::kMaxFrameRate;
        } else if (a == QLatin1String("--size")) {
            ok = parseExportSize(value, &command->width, &command->height);
        } else if (a == QLatin1String("--bitrate")) {
            command->bitrate = value.toInt(&ok);
            ok = ok && command->bitrate >= 0 && command->bitrate <= 1000000;
        } else if (a == QLatin1String("--from") || a == QLatin1String("--to")) {
            // Plain digits: no sign, no spaces, no exponent.
            ok = QRegularExpression(QStringLiteral("^\\d{1,12}$")).match(value).hasMatch();
            const qlonglong frame = ok ? value.toLongLong(&ok) : 0;
            if (a == QLatin1String("--from")) {
                command->from = frame;
            } else {
                command->to = frame;
                toGiven = true;
            }
        } else if (a == QLatin1String("--keyint")) {
            command->keyInterval = value.toInt(&ok);
            ok = ok && command->keyInterval >= 1 && command->keyInterval <= 100000;
        } else if (a == QLatin1String("--speed")) {
            command->speed = value.toDouble(&ok);
            ok = ok && command->speed >= 0.25 && command->speed <= 4.0;
        } else {
            *error = QStringLiteral("unknown option %1").arg(a);
            return false;
        }
        if (!ok) {
            *error = QStringLiteral("%1 %2 is not usable: %3").arg(a, value, exportOptionRange(a));
            return false;
        }
    }
    if (rest.size() != 2) {
        *error = exportUsage();
        return false;
    }
    if (toGiven && command->to <= command->from) {
        *error = QStringLiteral("--to %1 must lie after --from %2: the part [from, to) would be empty")
                     .arg(command->to)
                     .arg(command->from);
        return false;
    }
    // The kinds the export window offers, and lossless sound.
    const QString type = QFileInfo(rest.at(1)).suffix().toLower();
    const bool movie = type == QLatin1String("mp4") || type == QLatin1String("avi");
    const bool sound = type == QLatin1String("mp3") || type == QLatin1String("wav") || type == QLatin1String("flac");
    if (!movie && !sound) {
        *error = QStringLiteral("cannot export to \"%1\": the output must end in .mp4, .avi, .mp3, .wav or .flac")
                     .arg(rest.at(1));
        return false;
    }
    if (command->videoOnly && command->audioOnly) {
        *error = QStringLiteral("--video-only and --audio-only exclude each other");
        return false;
    }
    if (command->videoOnly && sound) {
        *error = QStringLiteral("--video-only needs a movie (.mp4 or .avi), not \"%1\"").arg(rest.at(1));
        return false;
    }
    if (command->audioOnly && movie) {
        *error = QStringLiteral("--audio-only needs a sound file (.wav, .flac or .mp3), not \"%1\"").arg(rest.at(1));
        return false;
    }
    command->audioOnly = sound;
    command->project = rest.at(0);
    command->output = QFileInfo(rest.at(1)).absoluteFilePath();
    return true;
}

int runExportCommand(const ExportCommand& command) {
    // A reader of the progress that goes away (`| head`) must not end the
    // export half-way; the lines are lost, the movie is written.
    std::signal(SIGPIPE, SIG_IGN);
    // The editor's background export ends with the editor, however it ends
    // (SIGTERM: the output stays as it was); nobody would see it otherwise.
    bool editorRunning = false;
    const qint64 editor = qEnvironmentVariableIntValue(kEditorPidVariable, &editorRunning);
    if (editorRunning && editor > 1) {
        ::prctl(PR_SET_PDEATHSIG, SIGTERM);
        if (::getppid() != pid_t(editor)) {
            say(QStringLiteral("export: the editor that started it has gone; nothing was written"));
            return 128 + SIGTERM;
        }
    }
    ZyApp* app = ZyApp::instance();
    // No window: the render manager, the timeline and the project's parts.
    if (!app->initializeHeadless()) {
        say(QStringLiteral("export: no OpenGL 3.3 device could be made (see the README's notes on exports)"));
        return 3;
    }
    // Reading a large project holds up the event loop, where signals are
    // heard; nothing is written yet, so a signal then ends the process.
    TerminationWatcher::setQuitAtOnce(true);
    const bool opened = QFileInfo(command.project).isFile() && app->openProject(command.project);
    TerminationWatcher::setQuitAtOnce(false);
    if (!opened) {
        say(QStringLiteral("export: %1 could not be opened as a project").arg(command.project));
        return 2;
    }
    // A file with holes where media should be is no export.
    const ProjectSections* sections = app->projectSections();
    const QStringList missing = sections ? sections->missingMedia() : QStringList();
    if (!missing.isEmpty()) {
        say(QStringLiteral("export: %1 media files of the project are missing:").arg(missing.size()));
        for (const QString& path : missing)
            say(QStringLiteral("  %1").arg(path));
        return 2;
    }
    const QStringList unreadable = sections ? sections->unreadableMedia() : QStringList();
    if (!unreadable.isEmpty()) {
        say(QStringLiteral("export: %1 media files of the project cannot be read as pictures or sound:")
                .arg(unreadable.size()));
        for (const QString& path : unreadable)
            say(QStringLiteral("  %1").arg(path));
        return 2;
    }
    // Found at the end, after every frame was made, a folder in the way
    // fails the export late.
    if (QFileInfo(command.output).isDir()) {
        say(QStringLiteral("export: the output %1 is a folder").arg(command.output));
        return 2;
    }
    if (command.srt && QFileInfo(subtitles::srtPathBeside(command.output)).isDir()) {
        say(QStringLiteral("export: %1, where --srt writes, is a folder").arg(subtitles::srtPathBeside(command.output)));
        return 2;
    }
    // Writing over what the export reads would destroy it.
    if (sections && project::readsFile(*sections, command.project, command.output)) {
        say(QStringLiteral("export: %1 is read by the project; choose another output").arg(command.output));
        return 2;
    }
    // The subtitles beside it too (a link of that name may lead anywhere).
    if (sections && command.srt &&
        project::readsFile(*sections, command.project, subtitles::srtPathBeside(command.output))) {
        say(QStringLiteral("export: %1, where --srt writes, is read by the project; choose another output")
                .arg(subtitles::srtPathBeside(command.output)));
        return 2;
    }
    RenderManager* render = app->renderManager();
    MVParams params;
    params.audioOnly = command.audioOnly ? 1 : 0;
    params.videoOnly = command.videoOnly ? 1 : 0;
    params.width = command.width > 0 ? command.width : int(render->sceneWidth());
    params.height = command.height > 0 ? command.height : int(render->sceneHeight());
    params.width -= params.width % 2;
    params.height -= params.height % 2;
    params.frameRate = command.fps;
    params.keyFrameInterval = command.keyInterval > 0 ? command.keyInterval : command.fps;
    params.fixedKeyFrames = command.keyInterval > 0 ? 1 : 0;
    params.bitRate = command.bitrate;
    params.playRate = command.speed;
    // The part: output frames at --fps; sound alone counts timeline units,
    // from the unit the same output frame would show.
    auto* timeline = dynamic_cast<FrameDispatcher*>(render->exportManager()->source());
    const int64_t total = timeline ? timeline->totalFrames() : 0;
    if (command.audioOnly) {
        params.fromFrame = exportfn::timelineFrameOf(command.from, command.fps);
        params.toFrame = command.to < 0 ? -1 : exportfn::timelineFrameOf(command.to, command.fps);
    } else {
        params.fromFrame = command.from;
        params.toFrame = command.to;
    }
    const int64_t frameCount = command.audioOnly ? total : exportfn::outputFrameCount(total, command.fps);
    if (total > 0 && params.fromFrame >= frameCount) {
        say(QStringLiteral("export: --from %1 lies past the timeline's end: it has %2 frames at %3 fps")
                .arg(command.from)
                .arg(exportfn::outputFrameCount(total, command.fps))
                .arg(command.fps));
        return 2;
    }
    if (!exportfn::setExportPath(params, command.output)) {
        say(QStringLiteral("export: the output path is too long"));
        return 2;
    }
    // SIGTERM, SIGINT or SIGHUP cancel the export; SIGUSR1 ends it early,
    // keeping the frames written. The watcher hears them when events are
    // processed, which the progress report does.
    int signalled = 0;
    ExportManager* exporter = render->exportManager();
    const QMetaObject::Connection onSignal =
        QObject::connect(app->terminationWatcher(), &TerminationWatcher::terminationRequested, exporter,
                         [exporter, &signalled](int sig) {
                             signalled = sig;
                             exporter->cancel();
                         });
    int lastPercent = -1;
    int64_t lastDone = -1, lastTotal = 0;
    // Before the first frame is written (the project still loading) there
    // is nothing to keep: the request is let go, not held for later.
    const QMetaObject::Connection onFinish =
        QObject::connect(app->terminationWatcher(), &TerminationWatcher::finishRequested, exporter,
                         [exporter, &lastDone] {
                             if (lastDone > 0)
                                 exporter->stop();
                             else
                                 LOGD("export: asked to finish before the first frame; ignored");
                         });
    const bool lines = command.progressLines;
    exporter->setProgress([&lastPercent, &lastDone, &lastTotal, lines](int64_t done, int64_t total) {
        QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
        const int percent = total > 0 ? int(done * 100 / total) : 0;
        if (percent != lastPercent) {
            lastPercent = percent;
            std::fprintf(stderr, "\rexport: %3d %%", percent);
        }
        // For a parent that shows the progress: one line per new frame count.
        if (lines && done != lastDone) {
            std::fprintf(stdout, "progress %lld %lld\n", static_cast<long long>(done), static_cast<long long>(total));
            std::fflush(stdout);
        }
        lastDone = done;
        lastTotal = total;
    });
    render->slot_exportParam(&params);
    QObject::disconnect(onSignal);
    QObject::disconnect(onFinish);
    exporter->setProgress(ExportManager::Progress());
    std::fprintf(stderr, "\n");
    const ExportResult result = render->lastExportResult();
    zya::UndoController::instance()->setClean();
    if (signalled) {
        say(QStringLiteral("export: stopped by signal %1; nothing was written").arg(signalled));
        return 128 + signalled;
    }
    if (!result.ok) {
        say(QStringLiteral("export: failed: %1").arg(result.reason));
        return 1;
    }
    const QString written = result.path.isEmpty() ? command.output : result.path;
    if (result.stoppedEarly) {
        say(QStringLiteral("export: finished early, as asked: %1 of %2 written").arg(lastDone).arg(lastTotal));
        // Subtitles go with what was written (pictures, or the sound's
        // timeline units), not the whole timeline.
        if (lastDone >= 0)
            params.toFrame = params.fromFrame + lastDone;
    }
    say(QStringLiteral("export: wrote %1").arg(written));
    if (command.srt) {
        auto* frames = dynamic_cast<FrameDispatcher*>(exporter->source());
        bool wroteSrt = false;
        QString error = QStringLiteral("no timeline");
        const bool part = params.fromFrame > 0 || params.toFrame >= 0;
        bool ok = frames && frames->model();
        if (ok && part) {
            // The part's cues, cut to it and timed from its start, as its sound is.
            const int rate = params.audioOnly ? exportfn::kUnitsPerSecond : params.frameRate;
            const int64_t first = exportfn::timelineFrameOf(params.fromFrame, rate);
            const int64_t end = params.toFrame < 0 ? total : exportfn::timelineFrameOf(params.toFrame, rate);
            const auto ms = [&command](int64_t frame) {
                return command.speed == 1.0 ? subtitles::frameToMs(frame)
                                            : int64_t(std::llround(double(frame) * 1000.0 / 30.0 / command.speed));
            };
            const int64_t from = ms(first), to = ms(end);
            QList<subtitles::Cue> cues;
            for (subtitles::Cue cue : subtitles::timelineCues(*frames->model(), command.speed)) {
                if (cue.endMs <= from || cue.startMs >= to)
                    continue;
                cue.startMs = std::max(cue.startMs, from) - from;
                cue.endMs = std::min(cue.endMs, to) - from;
                cues.append(cue);
            }
            wroteSrt = !cues.isEmpty();
            ok = !wroteSrt || subtitles::writeSrtFile(subtitles::srtPathBeside(written), cues, &error);
        } else if (ok) {
            ok = subtitles::writeSubtitlesBeside(*frames->model(), written, command.speed, &wroteSrt, &error);
        }
        if (!ok) {
            say(QStringLiteral("export: the subtitles could not be written to %1: %2")
                    .arg(subtitles::srtPathBeside(written), error));
            return 1;
        }
        say(wroteSrt ? QStringLiteral("export: wrote %1").arg(subtitles::srtPathBeside(written))
                     : part ? QStringLiteral("export: the part has no subtitles; no .srt written")
                            : QStringLiteral("export: the timeline has no subtitles; no .srt written"));
        // Players show a .srt of the movie's name with it: say so when an
        // earlier one lies there (it may be the user's own, so it stays).
        if (!wroteSrt && QFileInfo::exists(subtitles::srtPathBeside(written)))
            say(QStringLiteral("export: %1 from before stays beside the movie; players will show it")
                    .arg(subtitles::srtPathBeside(written)));
    }
    return 0;
}
