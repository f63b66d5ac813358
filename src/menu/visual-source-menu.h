// The panel of a picture or a video clip: placement, size, angle,
// transparency, the six colour controls, the screen fill commands and the
// cropping page; the video panel adds volume and mute. ImageMenu and
// VideoMenu give it their object names and the slot names of their forms.
// GUI thread only.
#pragma once

#include "menu/abstract-menu.h"
#include "menu/menu-form.h"
#include "values/frame-info.h"

#include <QList>
#include <QRect>
#include <QSize>

class CropView;
class QButtonGroup;
class QCheckBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QRadioButton;
class QSlider;
class QSpinBox;
class QStackedWidget;

class VisualSourceMenu : public AbstractMenu {
    Q_OBJECT
public:
    enum Page { PageEdit = 0, PageCrop = 1, PageHidden = 2 };
    enum SizeType { SizeNone = 0, SizeFull = 1, SizeStretch = 2, SizeAdaptive = 3 };

    ~VisualSourceMenu() override;

    void UpdateData(bg::ValueMap map) override;

    MenuType menuType() const { return m_type; }
    QString uuid() const { return m_uuid; }
    QRect clipRect() const { return m_clipRect; }
    QSize sourceSize() const { return m_sourceSize; }
    int strech() const { return m_strech; }
    int sizeType() const { return m_sizeType; }
    CropView* cropView() const { return m_cropView; }
    int currentPage() const;

    // The full value map of an edit, from the controls as they are now.
    bg::ValueMap valueMap() const;

public slots:
    void slot_radioButtonClicked(int id);
    // From the crop view after a drag.
    void slot_updateClipRect(QString uuid, QRect rect);
    // The preview's current frames; kept only while the cropping page shows.
    void slot_updateClipImage(QList<VFrameInfo> frames);
    void on_clip_clicked();

signals:
    // The crop button: what the stand-alone crop page needs.
    void sig_clip(QString uuid, QSize sourceSize, QRect clipRect, StretchType strech, bool open);

protected:
    // prefix names the form's objects ("video", "image"); keys is the
    // translation section; sound adds volume and mute.
    VisualSourceMenu(MenuType type, const char* prefix, const char* keys, bool sound, QWidget* parent);

    // Builds the map, sends it with datatype, then clears the size command.
    void sendEdit(const char* datatype);
    // An edit of a spin box: dropFocus first takes the focus off it.
    void sendSpinEdit(QSpinBox* box, const char* datatype, bool dropFocus);
    void switchPage(int page);
    void fitAdaptive();
    void fitStretch();
    void fitFull();
    void volumeChanged(int value);

    QLineEdit* m_name = nullptr;
    QLineEdit* m_path = nullptr;
    menu::Placement m_place;
    QSpinBox* m_contrast = nullptr;
    QSpinBox* m_bright = nullptr;
    QSpinBox* m_hue = nullptr;
    QSpinBox* m_temperature = nullptr;
    QSpinBox* m_saturation = nullptr;
    QSpinBox* m_highlight = nullptr;
    QSlider* m_volume = nullptr; // video only
    QLabel* m_volumeLabel = nullptr;
    QCheckBox* m_mute = nullptr;
    QPushButton* m_adaptive = nullptr;
    QPushButton* m_stretch = nullptr;
    QPushButton* m_full = nullptr;
    QPushButton* m_cropButton = nullptr;
    QRadioButton* m_keepRate = nullptr;
    QRadioButton* m_fill = nullptr;
    QButtonGroup* m_fitGroup = nullptr;
    CropView* m_cropView = nullptr;

private:
    QWidget* buildEditPage(const char* prefix, const char* keys, bool sound);
    QWidget* buildCropPage();
    void checkFitButton();

    MenuType m_type;
    menu::TabSet* m_tabs = nullptr;
    QStackedWidget* m_pages = nullptr;
    QString m_uuid;
    QRect m_clipRect;
    QSize m_sourceSize;
    int m_strech = 1;
    int m_sizeType = SizeNone;
};
