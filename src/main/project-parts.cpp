#include "project-parts.h"

#include <QCoreApplication>

#include "render/render-manager.h"
#include "timeline/timeline-tree-model.h"
#include "values/read-limits.h"
#include "value/interface.h"
#include "zyapp.h"

#include <QXmlStreamReader>

void ProjectParts::writeRender(QXmlStreamWriter& writer) {
    m_render->writeSection(writer);
}

void ProjectParts::writeResource(QXmlStreamWriter& writer, bool archive) {
    Q_UNUSED(writer);
    Q_UNUSED(archive);
    LOGW("project: these parts hold no media library; its section is left empty");
}

void ProjectParts::writeTimeline(QXmlStreamWriter& writer, bool archive) {
    ZyApp* app = ZyApp::instance();
    if (!app) {
        m_timeline->writeTimeline(writer);
        return;
    }
    m_timeline->writeTimeline(writer, app->mediaPathWriter(archive),
                              archive ? TimeLineTreeModel::PathMapper() : app->mediaBesideProject());
}

void ProjectParts::readRender(QXmlStreamReader& reader) {
    while (reader.readNextStartElement()) {
        if (reader.name() == QLatin1String("scene"))
            m_render->readSection(reader);
        else
            reader.skipCurrentElement();
    }
}

void ProjectParts::readResource(QXmlStreamReader& reader) {
    reader.skipCurrentElement();
}

void ProjectParts::readTimeline(QXmlStreamReader& reader) {
    ZyApp* app = ZyApp::instance();
    m_timeline->readTimeline(reader, [app](const QString& path) { return app ? app->resolveMediaPath(path) : path; });
}

void ProjectParts::readOldCanvas(const QString& rectText) {
    m_render->readOldCanvas(rectText);
}

void ProjectParts::readOldResource(QXmlStreamReader& objectMgr) {
    objectMgr.skipCurrentElement();
}

void ProjectParts::readOldTimeline(QXmlStreamReader& objectMgr, QXmlStreamReader& tree) {
    ZyApp* app = ZyApp::instance();
    m_timeline->readOldSection(objectMgr, tree,
                               [app](const QString& path) { return app ? app->resolveMediaPath(path) : path; });
}

void ProjectParts::clearSections() {
    m_timeline->reset();
}

QStringList ProjectParts::readLosses() const {
    const TimeLineTreeModel::ReadLosses& losses = m_timeline->readLosses();
    QStringList lines;
    const auto add = [&lines](int count, const char* key, int limit = 0) {
        if (count > 0)
            lines << QCoreApplication::translate("ZyApp", key).arg(count).arg(limit);
    };
    add(losses.clipsSkipped, "titlebar.ClipsLeftOut", timeline::kMaxClips);
    add(losses.tracksSkipped, "titlebar.TracksLeftOut", timeline::kMaxAddedTracks);
    add(losses.clipsShortened, "titlebar.ClipsShortened");
    add(losses.clipsRemoved, "titlebar.ClipsPastTheEnd");
    return lines;
}

QStringList ProjectParts::missingMedia() const {
    return m_timeline->missingMedia();
}

QStringList ProjectParts::unreadableMedia() const {
    return m_timeline->unreadableMedia();
}

QStringList ProjectParts::mediaFiles() const {
    return m_timeline->mediaFiles();
}

int ProjectParts::relinkMedia(const QString& from, const QString& to) {
    return m_timeline->relinkMedia(from, to);
}
