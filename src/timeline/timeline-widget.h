// The timeline panel: the track tree, the ruler above the clip view and the
// clip view, kept in step; it forwards the toolbar's and the property
// panels' requests to the view and the scene and relays their signals.
#pragma once

#include "timeline/timeline-units.h"
#include "value/value.h"

#include <QWidget>

#include <cstdint>
#include <functional>
#include <string>

class QColor;
class QFont;

class TimeLineGraphicsScene;
class TimeLineGraphicsView;
class TimeLineRuler;
class TimeLineTreeModel;
class TimeLineTreeView;

class TimeLineWidget : public QWidget {
    Q_OBJECT
public:
    explicit TimeLineWidget(QWidget* parent = nullptr);
    ~TimeLineWidget() override;

    TimeLineTreeView* treeView() const { return m_tree; }
    TimeLineTreeModel* model() const;
    TimeLineGraphicsScene* scene() const { return m_scene; }
    TimeLineGraphicsView* view() const { return m_view; }
    TimeLineRuler* ruler() const { return m_ruler; }

    // The look of imported subtitles: fills font and colour and returns true
    // when a subtitle template is chosen (the library's selection); without
    // one, or when it returns false, the default look is used.
    using SubtitleStyle = std::function<bool(QFont* font, QColor* color)>;
    void setSubtitleStyle(SubtitleStyle style) { m_subtitleStyle = std::move(style); }

public slots:
    void slot_scaleSliderValue(int value);
    void slot_splitSourceItem();
    void slot_editSourceItem();
    void slot_clearSourceItems();
    void slot_removeSourceItem();
    // A property panel's edit for the item whose panel is open.
    void slot_updateData(MenuType type, bg::ValueMap map, std::string datatype);
    void slot_autoAlign(bool align);
    void slot_updatePreview();
    // Subtitle files (.srt, .vtt): every cue becomes a clip at its time on
    // the subtitle track at the viewport y (posY < 0: the first subtitle
    // track), overlapping cues on further subtitle tracks; one undo step.
    // What was skipped is told in a message box.
    void slot_importSubtitles(QStringList paths, int posY = -1);

signals:
    void sig_scaleSliderValueChanged(int value);
    void sig_splitButtonEnable(bool enable);
    void sig_editButtonEnable(bool enable);
    void sig_showTime(int64_t current, int64_t total);
    void sig_showMenu(MenuType type, int clicked, bg::ValueMap map);
    // Before an edit of the view, the ruler or the tracks: stop playback and
    // recording (the render manager's slot_opertorUi).
    void sig_opertorUi(bool playing, bool recording);

private:
    TimeLineTreeView* m_tree;
    TimeLineGraphicsScene* m_scene;
    TimeLineGraphicsView* m_view;
    TimeLineRuler* m_ruler;
    SubtitleStyle m_subtitleStyle;
};
