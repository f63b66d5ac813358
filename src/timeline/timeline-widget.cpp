#include "timeline/timeline-widget.h"

#include "timeline/classify-item-delegate.h"
#include "timeline/classify-item.h"
#include "timeline/source-item.h"
#include "timeline/subtitle-import.h"
#include "timeline/time-ruler.h"
#include "timeline/timeline-scene.h"
#include "timeline/timeline-tree-model.h"
#include "timeline/timeline-tree-view.h"
#include "timeline/timeline-view.h"
#include "timeline/trans-item.h"
#include "undo/undo-controller.h"
#include "value/interface.h"

#include <QGridLayout>
#include <QMessageBox>
#include <QPushButton>
#include <QScrollBar>

#include <algorithm>

namespace {
constexpr int kTreeWidth = 130;
constexpr int kRulerHeight = 30;

} // namespace

TimeLineWidget::TimeLineWidget(QWidget* parent)
    : QWidget(parent), m_tree(new TimeLineTreeView(this)), m_scene(new TimeLineGraphicsScene(this)),
      m_view(new TimeLineGraphicsView(m_scene, this)), m_ruler(new TimeLineRuler(this)) {
    setObjectName(QStringLiteral("TimeLineWidget"));
    m_scene->setModel(m_tree->treeModel());
    m_tree->attachScene(m_scene);
    m_view->setAcceptDrops(true);

    const int side = std::max(int(kTreeWidth * timeline::dpiScale()),
                              ClassifyItemDelegate::minimumRowWidth(m_tree->fontMetrics()));
    m_tree->setFixedWidth(side);
    m_tree->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    auto* corner = new QWidget(this);
    corner->setObjectName(QStringLiteral("widget_corner"));
    corner->setFixedWidth(side);
    const int rulerHeight = int(kRulerHeight * timeline::dpiScale());
    corner->setFixedHeight(rulerHeight);
    m_ruler->setFixedHeight(rulerHeight);
    auto* grid = new QGridLayout(this);
    grid->setContentsMargins(0, 0, 0, 0);
    grid->setSpacing(0);
    grid->addWidget(corner, 0, 0);
    grid->addWidget(m_ruler, 0, 1);
    grid->addWidget(m_tree, 1, 0);
    grid->addWidget(m_view, 1, 1);
    grid->setColumnStretch(1, 1);
    grid->setRowStretch(1, 1);
    m_tree->setScrollBarHeight(m_view->horizontalScrollBar()->sizeHint().height());

    // The rows and the clip bands scroll together, whichever is scrolled.
    QScrollBar* treeBar = m_tree->verticalScrollBar();
    QScrollBar* viewBar = m_view->verticalScrollBar();
    connect(viewBar, &QScrollBar::valueChanged, treeBar, [treeBar](int v) {
        if (treeBar->value() != v)
            treeBar->setValue(v);
    });
    connect(treeBar, &QScrollBar::valueChanged, viewBar, [viewBar](int v) {
        if (viewBar->value() != v)
            viewBar->setValue(v);
    });

    QScrollBar* hBar = m_view->horizontalScrollBar();
    connect(hBar, &QScrollBar::valueChanged, m_ruler, &TimeLineRuler::slot_offsetChange);
    connect(hBar, &QScrollBar::rangeChanged, m_ruler, &TimeLineRuler::slot_offsetrangeChanged);
    connect(m_view, &TimeLineGraphicsView::sig_scaleValue, m_ruler, &TimeLineRuler::slot_scaleValue);
    connect(m_view, &TimeLineGraphicsView::sig_moveValue, m_ruler, &TimeLineRuler::slot_moveValue);
    connect(m_scene, &TimeLineGraphicsScene::sig_limitPosX, m_ruler, &TimeLineRuler::slot_limitPosX);
    connect(m_ruler, &TimeLineRuler::sig_viewportRangeUpdate, m_view,
            &TimeLineGraphicsView::slot_viewportRangeUpdate);
    connect(m_ruler, &TimeLineRuler::sig_scaleStepView, m_view, &TimeLineGraphicsView::slot_scaleStepView);
    connect(m_view, &TimeLineGraphicsView::sig_createSourceItem, m_tree, &TimeLineTreeView::slot_createSourceItem);
    connect(m_tree, &TimeLineTreeView::sig_sourceCreated, this, [this](SourceData* clip) {
        if (clip)
            return;
        auto* box = new QMessageBox(QMessageBox::NoIcon, tr("material_view.Hint"), tr("material_item.Invail"),
                                    QMessageBox::Ok, this);
        box->button(QMessageBox::Ok)->setText(tr("res_form.Ok_1"));
        box->setAttribute(Qt::WA_DeleteOnClose);
        box->open();
    });

    connect(m_view, &TimeLineGraphicsView::sig_importSubtitles, this, &TimeLineWidget::slot_importSubtitles);

    connect(m_view, &TimeLineGraphicsView::sig_scaleValue, this,
            [this](int level, double, int) { emit sig_scaleSliderValueChanged(level); });
    connect(m_view, &TimeLineGraphicsView::sig_splitButtonEnable, this, &TimeLineWidget::sig_splitButtonEnable);
    connect(m_view, &TimeLineGraphicsView::sig_editButtonEnable, this, &TimeLineWidget::sig_editButtonEnable);
    connect(m_view, &TimeLineGraphicsView::sig_showTime, this, &TimeLineWidget::sig_showTime);
    connect(m_scene, &TimeLineGraphicsScene::sig_showMenu, this, &TimeLineWidget::sig_showMenu);
    connect(m_view, &TimeLineGraphicsView::sig_opertorUi, this, &TimeLineWidget::sig_opertorUi);
    connect(m_tree, &TimeLineTreeView::sig_opertorUi, this, &TimeLineWidget::sig_opertorUi);
    connect(m_ruler, &TimeLineRuler::sig_opertorUi, this, &TimeLineWidget::sig_opertorUi);
}

TimeLineWidget::~TimeLineWidget() {
    // The view goes before its scene, the scene before the tree's model.
    delete m_view;
    delete m_scene;
}

TimeLineTreeModel* TimeLineWidget::model() const {
    return m_tree->treeModel();
}

void TimeLineWidget::slot_scaleSliderValue(int value) {
    m_view->setZoomLevel(value);
}

void TimeLineWidget::slot_splitSourceItem() {
    for (QGraphicsItem* item : m_scene->selectedItems()) {
        if (auto* clip = dynamic_cast<SourceItem*>(item)) {
            model()->splitSource(clip, m_view->playHeadFrame());
            return;
        }
    }
}

void TimeLineWidget::slot_editSourceItem() {
    const QList<QGraphicsItem*> items = m_scene->selectedItems();
    if (items.isEmpty())
        return;
    if (auto* clip = dynamic_cast<SourceItem*>(items.first()))
        m_scene->showMenu(clip, clip->menuType(), 2, clip->panelMap());
}

void TimeLineWidget::slot_clearSourceItems() {
    const QList<SourceData*> clips = model()->allSources();
    if (clips.isEmpty()) {
        auto* box = new QMessageBox(QMessageBox::NoIcon, tr("timeline-manage.Hint"),
                                    tr("timeline-manage.AlreadyClear"), QMessageBox::Ok, this);
        box->button(QMessageBox::Ok)->setText(tr("timeline-manage.Ok"));
        box->setAttribute(Qt::WA_DeleteOnClose);
        box->open();
        return;
    }
    zya::UndoController* undo = zya::UndoController::instance();
    undo->beginMergeSequence(QStringLiteral("clear sourceItems"));
    model()->removeSources(clips);
    undo->endMergeSequence();
}

void TimeLineWidget::slot_removeSourceItem() {
    m_view->slot_removeSourceItem();
}

void TimeLineWidget::slot_updateData(MenuType type, bg::ValueMap map, std::string datatype) {
    const QGraphicsItem* open = m_scene->menuItem();
    if (!open) {
        LOGW("panel edit %s without an open panel", datatype.c_str());
        return;
    }
    if (type == MenuTransition) {
        for (TransitionObject* t : model()->transitions()) {
            auto* item = dynamic_cast<TransItem*>(t);
            if (item && static_cast<const QGraphicsItem*>(item) == open) {
                item->updateData(map);
                return;
            }
        }
    } else {
        for (SourceItem* clip : m_scene->clips()) {
            if (static_cast<const QGraphicsItem*>(clip) == open) {
                clip->updateData(type, map, datatype);
                return;
            }
        }
    }
    LOGW("panel edit %s for an item that is gone", datatype.c_str());
}

void TimeLineWidget::slot_autoAlign(bool align) {
    m_scene->slot_setAutoAlign(align);
}

void TimeLineWidget::slot_updatePreview() {
    m_view->requestFrame(m_view->playHeadFrame(), 30, EditManual);
}

void TimeLineWidget::slot_importSubtitles(QStringList paths, int posY) {
    if (paths.isEmpty())
        return;
    emit sig_opertorUi(false, true);
    QFont font = subtitles::defaultFont();
    QColor color = subtitles::defaultColor();
    if (m_subtitleStyle) {
        QFont chosenFont;
        QColor chosenColor;
        if (m_subtitleStyle(&chosenFont, &chosenColor) && chosenColor.isValid()) {
            font = chosenFont;
            color = chosenColor;
        }
    }
    const QList<subtitles::ImportReport> reports =
        subtitles::importFiles(model(), m_tree->dropTrack(SourceSubtitle, posY), paths, font, color);
    m_view->viewport()->update();
    slot_updatePreview();
    const QString message = subtitles::importMessage(reports);
    if (message.isEmpty())
        return;
    auto* box = new QMessageBox(QMessageBox::NoIcon, tr("subtitle_import.Hint"), message, QMessageBox::Ok, this);
    box->setObjectName(QStringLiteral("subtitleImportMessage"));
    box->button(QMessageBox::Ok)->setText(tr("subtitle_import.Ok"));
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->open();
}
