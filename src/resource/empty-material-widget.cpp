#include "resource/empty-material-widget.h"

#include "resource/material-view.h"

#include <QDragEnterEvent>
#include <QLabel>
#include <QVBoxLayout>

EmptyMaterialWidget::EmptyMaterialWidget(QWidget* parent) : QWidget(parent) {
    setObjectName(QStringLiteral("EmptyMaterialWidget"));
    setAcceptDrops(true);
    auto* layout = new QVBoxLayout(this);
    auto* note = new QLabel(tr("res_form.emptyNote"), this);
    note->setObjectName(QStringLiteral("label_emptyNote"));
    note->setAlignment(Qt::AlignCenter);
    note->setWordWrap(true);
    layout->addStretch(1);
    layout->addWidget(note);
    layout->addStretch(2);
}

void EmptyMaterialWidget::dragEnterEvent(QDragEnterEvent* event) {
    MaterialView::acceptFileDrag(event);
}

void EmptyMaterialWidget::dragMoveEvent(QDragMoveEvent* event) {
    MaterialView::acceptFileDrag(event);
}

void EmptyMaterialWidget::dropEvent(QDropEvent* event) {
    QString project;
    QStringList files;
    if (!MaterialView::takeFileDrop(event, &project, &files))
        return;
    if (!project.isEmpty())
        emit sig_openProject(project);
    else if (!files.isEmpty())
        emit sig_addNewMaterial(files);
}
