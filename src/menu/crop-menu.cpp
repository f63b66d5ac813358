#include "menu/crop-menu.h"

#include "menu/crop-view.h"
#include "values/timeline-keys.h"
#include "values/value-qt.h"

#include <QButtonGroup>
#include <QHBoxLayout>
#include <QPushButton>
#include <QRadioButton>
#include <QSignalBlocker>
#include <QVBoxLayout>

CropMenu::CropMenu(QWidget* parent) : QWidget(parent) {
    setObjectName(QStringLiteral("CropMenu"));
    setStyleSheet(menu::styleSheet(QStringLiteral(":/qss/crop-menu.css")));
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(12, 10, 12, 10);
    m_view = new CropView(this);
    m_view->setObjectName(QStringLiteral("graphicsView"));
    layout->addWidget(m_view, 1);
    auto* row = new QHBoxLayout;
    auto* back = new QPushButton(tr("cropmenu.Return"), this);
    back->setObjectName(QStringLiteral("pushButton_return"));
    m_keep = new QRadioButton(tr("cropmenu.Keep"), this);
    m_keep->setObjectName(QStringLiteral("radioButton_keep"));
    m_fill = new QRadioButton(tr("cropmenu.Fill"), this);
    m_fill->setObjectName(QStringLiteral("radioButton_fill"));
    m_group = new QButtonGroup(this);
    m_group->addButton(m_keep, 0);
    m_group->addButton(m_fill, 1);
    m_keep->setChecked(true);
    row->addWidget(back);
    row->addStretch(1);
    row->addWidget(m_keep);
    row->addWidget(m_fill);
    layout->addLayout(row);
    connect(back, &QPushButton::clicked, this, &CropMenu::on_pushButton_return_clicked);
    connect(m_group, &QButtonGroup::idClicked, this, &CropMenu::slot_buttonClicked);
    connect(m_view, &CropView::sig_updateClipRect, this, &CropMenu::slot_updateClipRect);
}

void CropMenu::open(MenuType returnTo, const QString& uuid, const QSize& sourceSize, const QRect& clipRect,
                    StretchType strech) {
    m_returnTo = returnTo;
    m_uuid = uuid;
    m_sourceSize = sourceSize;
    m_rect = clipRect;
    checkStretch(strech);
    m_view->setup(uuid, sourceSize, clipRect);
}

void CropMenu::refresh(const bg::ValueMap& map) {
    if (m_uuid.isEmpty() || QString::fromStdString(map.get(tlkey::Uuid).toStdString()) != m_uuid)
        return;
    const bg::Value rect = map.get(tlkey::Rect);
    if (rect.type() == bg::VT_RECT && bg::toQRect(rect) != m_rect) {
        m_rect = bg::toQRect(rect);
        m_view->setup(m_uuid, m_sourceSize, m_rect);
    }
    if (map.contains(tlkey::Strech))
        checkStretch(map.get(tlkey::Strech).toInt());
}

bool CropMenu::keepsProportions() const {
    return m_keep->isChecked();
}

void CropMenu::checkStretch(int strech) {
    const QSignalBlocker quiet(m_group);
    (strech == 1 ? m_keep : m_fill)->setChecked(true);
}

void CropMenu::send(const char* datatype) {
    bg::ValueMap map;
    map[tlkey::Uuid] = bg::Value(m_uuid.toStdString());
    map[tlkey::Rect] = bg::ValueQt(m_rect);
    map[tlkey::Strech] = bg::Value(keepsProportions() ? 1 : 0);
    // The datatype names what changed, so the clip takes it.
    emit sig_updateData(MenuCrop, map, datatype);
    menu::requestPreviewUpdate();
}

void CropMenu::on_pushButton_return_clicked() {
    emit sig_backMenu(m_returnTo);
}

void CropMenu::slot_updateClipRect(QString uuid, QRect rect) {
    Q_UNUSED(uuid);
    m_rect = rect;
    send(tlkey::Rect);
}

void CropMenu::slot_buttonClicked(int) {
    send(tlkey::Strech);
}

void CropMenu::slot_updateCropMenu(QList<VFrameInfo> frames) {
    m_view->updateFrames(frames);
}
