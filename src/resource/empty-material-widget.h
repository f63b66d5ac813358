// Stands in for the material view while the library is empty: a note, and
// a target for files dropped from the desktop.
#pragma once

#include <QStringList>
#include <QWidget>

class EmptyMaterialWidget : public QWidget {
    Q_OBJECT
public:
    explicit EmptyMaterialWidget(QWidget* parent = nullptr);

signals:
    void sig_addNewMaterial(QStringList fileList);
    void sig_openProject(QString path);

protected:
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dragMoveEvent(QDragMoveEvent* event) override;
    void dropEvent(QDropEvent* event) override;
};
