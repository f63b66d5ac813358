// The crop page (MenuType 6): a large crop view of one picture or video
// clip, the keep-proportions and fill choice, and a return button back to
// the panel that opened it. GUI thread only.
#pragma once

#include "menu/abstract-menu.h"
#include "values/frame-info.h"

#include <QList>
#include <QRect>

class CropView;
class QButtonGroup;
class QRadioButton;

class CropMenu : public QWidget {
    Q_OBJECT
public:
    explicit CropMenu(QWidget* parent = nullptr);

    // Holds the clip before the page is shown: where to return, its uuid,
    // the picture size, its crop rectangle and fit mode.
    void open(MenuType returnTo, const QString& uuid, const QSize& sourceSize, const QRect& clipRect,
              StretchType strech);
    // A clip's panel map after an edit, undo or redo: followed when it is
    // this page's clip.
    void refresh(const bg::ValueMap& map);

    CropView* cropView() const { return m_view; }
    MenuType returnTo() const { return m_returnTo; }
    QString uuid() const { return m_uuid; }
    QRect clipRect() const { return m_rect; }
    bool keepsProportions() const;

public slots:
    void on_pushButton_return_clicked();
    void slot_updateClipRect(QString uuid, QRect rect);
    void slot_updateCropMenu(QList<VFrameInfo> frames);
    void slot_buttonClicked(int id);

signals:
    void sig_updateData(MenuType type, bg::ValueMap map, std::string datatype);
    void sig_backMenu(MenuType type);

private:
    void send(const char* datatype);
    void checkStretch(int strech);

    CropView* m_view = nullptr;
    QRadioButton* m_keep = nullptr;
    QRadioButton* m_fill = nullptr;
    QButtonGroup* m_group = nullptr;
    MenuType m_returnTo = MenuPicture;
    QRect m_rect;
    QString m_uuid;
    QSize m_sourceSize;
};
