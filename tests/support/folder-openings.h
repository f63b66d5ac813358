// Catches the folders and files the application asks the desktop to open,
// so tests neither start a file manager nor miss the request.
#pragma once

#include <QDesktopServices>
#include <QList>
#include <QObject>
#include <QUrl>

namespace korvel::test {

class FolderOpenings : public QObject {
    Q_OBJECT
public:
    FolderOpenings() { QDesktopServices::setUrlHandler("file", this, "open"); }
    ~FolderOpenings() override { QDesktopServices::unsetUrlHandler("file"); }
    QList<QUrl> urls;
public slots:
    void open(const QUrl& url) { urls << url; }
};

} // namespace korvel::test
