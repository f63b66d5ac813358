#include "timeline/subtitle-import.h"

#include "render/export/export-function.h"

#include "timeline/classify-item.h"
#include "timeline/source-data.h"
#include "timeline/timeline-tree-model.h"
#include "undo/undo-controller.h"
#include "value/interface.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QFontDatabase>
#include <QMimeData>
#include <QUrl>

#include <algorithm>
#include <cmath>
#include <map>
#include <utility>
#include <vector>

namespace subtitles {

namespace {

constexpr const char* kImportStep = "importSubtitles";

QString tr(const char* key) {
    return QCoreApplication::translate("SubtitleImport", key);
}

// One cue in frames; end may be moved back when the next cue comes early.
struct Span {
    int64_t start, end;
    const Cue* cue;
};

// The frames taken on one track, by start, never overlapping (the track's
// layout sees to that for its clips, placeCues for the new ones).
class Occupancy {
public:
    explicit Occupancy(ClassifyItem* track) : m_track(track) {
        for (const SourceData* clip : track->sources())
            m_spans[clip->startFrame()] = Taken {clip->endFrame(), nullptr};
    }
    ClassifyItem* track() const { return m_track; }
    // Whether [start, end) can go here. A cue of this import that began
    // earlier and runs at most kTrimFrames into start gives way: it ends at
    // start (a sloppy timing, not two lines meant to show together).
    bool fits(int64_t start, int64_t end) {
        auto before = m_spans.lower_bound(end);
        if (before == m_spans.begin())
            return true;
        --before; // the last span starting before end; the ones before it end by its start
        Taken& taken = before->second;
        if (taken.end <= start)
            return true;
        if (!taken.ours || before->first >= start || taken.end - start > kTrimFrames)
            return false;
        taken.end = start;
        taken.ours->end = start;
        return true;
    }
    void take(Span* span) { m_spans[span->start] = Taken {span->end, span}; }

private:
    struct Taken {
        int64_t end;
        Span* ours; // null for a clip that was on the track before
    };
    ClassifyItem* m_track;
    std::map<int64_t, Taken> m_spans;
};

} // namespace

bool isSubtitleFile(const QString& path) {
    const QString suffix = QFileInfo(path).suffix().toLower();
    return suffix == QLatin1String("srt") || suffix == QLatin1String("vtt");
}

QStringList subtitlePaths(const QMimeData* mime) {
    QStringList paths;
    if (!mime || !mime->hasUrls())
        return paths;
    for (const QUrl& url : mime->urls()) {
        if (url.isLocalFile() && isSubtitleFile(url.toLocalFile()))
            paths.append(url.toLocalFile());
    }
    return paths;
}

QFont defaultFont() {
    QFont font = QFontDatabase::systemFont(QFontDatabase::GeneralFont);
    font.setPointSize(22);
    return font;
}

QColor defaultColor() {
    return QColor(Qt::white);
}

void placeCues(TimeLineTreeModel* model, ClassifyItem* track, const QList<Cue>& cues, const QFont& font,
               const QColor& color, ImportReport* report) {
    if (!model || !track || track->kind() != SourceSubtitle)
        return;
    std::vector<Span> spans;
    spans.reserve(size_t(cues.size()));
    for (const Cue& cue : cues) {
        const int64_t start = msToFrame(cue.startMs);
        if (start >= timeline::kMaxFrames) {
            ++report->pastEnd;
            continue;
        }
        // At least one frame, and nothing past the timeline's end.
        const int64_t end = std::min(timeline::kMaxFrames, std::max(start + 1, msToFrame(cue.endMs)));
        spans.push_back(Span {start, end, &cue});
    }
    std::stable_sort(spans.begin(), spans.end(), [](const Span& a, const Span& b) { return a.start < b.start; });

    // The chosen track first, then the other subtitle tracks in row order.
    std::vector<Occupancy> tracks;
    tracks.emplace_back(track);
    ClassifyItem* header = model->header(SourceSubtitle);
    QList<ClassifyItem*> others;
    if (header) {
        others.append(header);
        others.append(header->children());
    }
    for (ClassifyItem* other : others) {
        if (other != track)
            tracks.emplace_back(other);
    }
    int added = 0;
    std::vector<std::pair<const Span*, ClassifyItem*>> placed;
    placed.reserve(spans.size());
    // A project holds at most kMaxClips clips: more would not read back.
    int room = std::max(0, timeline::kMaxClips - int(model->allSources().size()));
    for (Span& span : spans) {
        if (room == 0) {
            ++report->overLimit;
            continue;
        }
        Occupancy* target = nullptr;
        for (Occupancy& candidate : tracks) {
            if (candidate.fits(span.start, span.end)) {
                target = &candidate;
                break;
            }
        }
        if (!target && header && added < kMaxOverlapTracks &&
            header->children().size() < timeline::kMaxAddedTracks) {
            if (ClassifyItem* fresh = model->addTrack(header)) {
                ++added;
                tracks.emplace_back(fresh);
                target = &tracks.back();
            }
        }
        if (!target) {
            ++report->noRoom;
            continue;
        }
        target->take(&span);
        placed.push_back({&span, target->track()});
        --room;
    }
    // Latest first: a track takes a new clip at the front of its list and
    // re-sorts it, which costs nothing while the list stays in order.
    for (auto it = placed.rbegin(); it != placed.rend(); ++it) {
        const Span& span = *it->first;
        if (model->createSubtitle(it->second, span.start, span.end - span.start, span.cue->text, font, color))
            ++report->created;
    }
}

QList<ImportReport> importFiles(TimeLineTreeModel* model, ClassifyItem* track, const QStringList& paths,
                                const QFont& font, const QColor& color) {
    QList<ImportReport> reports;
    zya::UndoController* undo = zya::UndoController::instance();
    undo->beginMergeSequence(QString::fromLatin1(kImportStep));
    for (const QString& path : paths) {
        ImportReport report;
        report.path = path;
        ParseResult parsed;
        if (readFile(path, &parsed, &report.readError)) {
            report.malformed = parsed.malformed;
            report.overLimit = parsed.overLimit;
            report.cutTexts = parsed.cutTexts;
            report.windows1252 = parsed.windows1252;
            placeCues(model, track, parsed.cues, font, color, &report);
            LOGD("subtitles: %d cues of %s placed, %d malformed, %d past the end, %d without room", report.created,
                 qUtf8Printable(path), report.malformed, report.pastEnd, report.noRoom);
        } else {
            LOGW("subtitles: %s not read: %s", qUtf8Printable(path), qUtf8Printable(report.readError));
        }
        reports.append(report);
    }
    undo->endMergeSequence();
    return reports;
}

QString importMessage(const QList<ImportReport>& reports) {
    QStringList lines;
    for (const ImportReport& r : reports) {
        const QString name = QFileInfo(r.path).fileName();
        if (!r.readError.isEmpty()) {
            lines << tr("subtitle_import.Unreadable").arg(name, r.readError);
            continue;
        }
        if (r.created == 0 && r.pastEnd == 0 && r.noRoom == 0 && r.overLimit == 0) {
            lines << tr("subtitle_import.NoCue").arg(name);
            continue;
        }
        if (r.malformed + r.overLimit + r.cutTexts + r.pastEnd + r.noRoom == 0 && !r.windows1252)
            continue;
        lines << tr("subtitle_import.Imported").arg(r.created).arg(name);
        if (r.malformed)
            lines << tr("subtitle_import.Malformed").arg(r.malformed);
        if (r.overLimit)
            lines << tr("subtitle_import.TooMany").arg(r.overLimit).arg(kMaxCues);
        if (r.cutTexts)
            lines << tr("subtitle_import.TextCut").arg(r.cutTexts).arg(kMaxTextChars);
        if (r.pastEnd)
            lines << tr("subtitle_import.PastEnd").arg(r.pastEnd);
        if (r.noRoom)
            lines << tr("subtitle_import.NoRoom").arg(r.noRoom);
        if (r.windows1252)
            lines << tr("subtitle_import.Windows1252");
    }
    return lines.join(QLatin1Char('\n'));
}

QList<Cue> timelineCues(const TimeLineTreeModel& model, double playRate) {
    const bool normal = !(playRate > 0.0) || playRate == 1.0;
    const auto ms = [normal, playRate](int64_t frame) {
        return normal ? frameToMs(frame) : int64_t(std::llround(double(frame) * 1000.0 / 30.0 / playRate));
    };
    QList<Cue> cues;
    for (ClassifyItem* track : model.tracks()) {
        if (track->kind() != SourceSubtitle)
            continue;
        for (const SourceData* clip : track->sources())
            cues.append(Cue {ms(clip->startFrame()), ms(clip->endFrame()), clip->content()});
    }
    std::stable_sort(cues.begin(), cues.end(), [](const Cue& a, const Cue& b) {
        return a.startMs != b.startMs ? a.startMs < b.startMs : a.endMs < b.endMs;
    });
    return cues;
}

QString srtPathBeside(const QString& exportPath) {
    return exportfn::srtPathBeside(exportPath);
}

bool writeSubtitlesBeside(const TimeLineTreeModel& model, const QString& exportPath, double playRate,
                          bool* written, QString* error) {
    *written = false;
    const QList<Cue> cues = timelineCues(model, playRate);
    if (cues.isEmpty()) {
        LOGD("subtitles: none on the timeline, no .srt written");
        return true;
    }
    const QString path = srtPathBeside(exportPath);
    if (!writeSrtFile(path, cues, error)) {
        LOGE("subtitles: %s not written: %s", qUtf8Printable(path), qUtf8Printable(*error));
        return false;
    }
    *written = true;
    return true;
}

} // namespace subtitles
