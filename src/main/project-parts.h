// The parts of an open project behind its file's sections: the canvas (the
// render manager), the timeline (its model) and, in the window, the media
// library. The base has no library: a command-line export reads only what it
// renders, and skips the library's section.
#pragma once

#include "project-file.h"

class RenderManager;
class TimeLineTreeModel;

class ProjectParts : public ProjectSections {
public:
    ProjectParts(RenderManager* render, TimeLineTreeModel* timeline) : m_render(render), m_timeline(timeline) {}

    void writeRender(QXmlStreamWriter& writer) override;
    // Without a library there is nothing to write: such parts are only
    // read and rendered, never saved.
    void writeResource(QXmlStreamWriter& writer, bool archive) override;
    void writeTimeline(QXmlStreamWriter& writer, bool archive) override;
    void readRender(QXmlStreamReader& reader) override;
    void readResource(QXmlStreamReader& reader) override;
    void readTimeline(QXmlStreamReader& reader) override;
    void readOldCanvas(const QString& rectText) override;
    void readOldResource(QXmlStreamReader& objectMgr) override;
    void readOldTimeline(QXmlStreamReader& objectMgr, QXmlStreamReader& tree) override;
    void clearSections() override;
    QStringList missingMedia() const override;
    QStringList readLosses() const override;
    QStringList unreadableMedia() const override;
    QStringList mediaFiles() const override;
    int relinkMedia(const QString& from, const QString& to) override;

protected:
    RenderManager* m_render;
    TimeLineTreeModel* m_timeline;
};
