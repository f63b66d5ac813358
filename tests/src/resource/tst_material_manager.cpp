// The media library: what additions make of real files, undo and redo with
// the listener's view of it, previews made off the GUI thread, the project
// section both ways, and stopping the worker while it decodes.
#include "support/test-main.h"

#include "resource/material-manager.h"
#include "resource/media-probe.h"
#include "undo/undo-controller.h"
#include "values/media-thumbnail.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QSignalSpy>
#include <QXmlStreamReader>
#include <QXmlStreamWriter>

#include <sys/resource.h>
#include <sys/stat.h>

#include <fcntl.h>
#include <memory>
#include <unistd.h>

namespace {

QString media(const char* name) { return QStringLiteral(KORVEL_TEST_MEDIA_DIR "/") + name; }

// Keeps what the library reported.
class Listener : public MaterialListener {
public:
    ~Listener() override { qDeleteAll(latest); }
    void OnMaterialChanged(const QList<MaterialData*>& materials) override {
        qDeleteAll(latest);
        latest = materials;
        ++changes;
    }
    void OnMaterialAlreadyExist(const QStringList& paths) override { existing.append(paths); }
    void OnMaterialNotExist(const QStringList& paths) override { missing.append(paths); }
    void OnMaterialUnusable(const QStringList& paths, const QStringList& why) override {
        unusable.append(paths);
        reasons.append(why);
    }
    void OnMaterialRefresh() override { ++refreshes; }

    int inLibrary() const {
        return int(std::count_if(latest.begin(), latest.end(), [](const MaterialData* m) { return m->inLibrary; }));
    }
    const MaterialData* byPath(const QString& path) const {
        for (const MaterialData* m : latest) {
            if (m->path == path && m->inLibrary)
                return m;
        }
        return nullptr;
    }

    QList<MaterialData*> latest;
    QList<QStringList> existing, missing, unusable, reasons;
    int changes = 0;
    int refreshes = 0;
};

quint32 crc32(const QByteArray& bytes) {
    quint32 crc = 0xffffffffu;
    for (char c : bytes) {
        crc ^= quint8(c);
        for (int k = 0; k < 8; ++k)
            crc = (crc >> 1) ^ (0xedb88320u & (0u - (crc & 1u)));
    }
    return ~crc;
}

QString copyTo(const QString& from, const QString& to) {
    QDir().mkpath(QFileInfo(to).absolutePath());
    QFile::remove(to);
    return QFile::copy(from, to) ? to : QString();
}

} // namespace

class TestMaterialManager : public QObject {
    Q_OBJECT

    zya::UndoController* undo() { return zya::UndoController::instance(); }

private slots:
    void init() { undo()->reset(); }
    void cleanup() { undo()->reset(); }

    void classifiesByExtension_data() {
        QTest::addColumn<QString>("path");
        QTest::addColumn<uint>("type");
        QTest::newRow("video") << "/a/b/clip.mp4" << uint(Movie);
        QTest::newRow("capitals") << "/a/CLIP.MP4" << uint(Movie);
        QTest::newRow("gif is a movie") << "sticker.gif" << uint(Movie);
        QTest::newRow("3gp") << "phone.3gp" << uint(Movie);
        QTest::newRow("webm") << "web.WebM" << uint(Movie);
        QTest::newRow("flac") << "song.flac" << uint(Music);
        QTest::newRow("sound") << "song.M4A" << uint(Music);
        QTest::newRow("picture") << "x.jpeg" << uint(Image);
        QTest::newRow("subtitle file") << "film.srt" << uint(Text);
        QTest::newRow("last dot counts") << "/dir.mp4/notes.txt" << uint(MaterialNone);
        QTest::newRow("no dot: the whole path") << "mp3" << uint(Music);
    }
    void classifiesByExtension() {
        QFETCH(QString, path);
        QFETCH(uint, type);
        QCOMPARE(uint(ClassifyMaterialPath(path)), type);
    }

    void additionsReportDuplicatesAndMissingFiles() {
        Listener listener;
        MaterialManager library(&listener);
        const QString dir = korvel::test::workFolder("add");
        const QString capital = copyTo(media("h264-30fps.mp4"), dir + "/CLIP.MP4");
        const QString missing = dir + "/gone.mp4";
        library.AddMaterialFiles({media("h264-30fps.mp4"), capital, media("tone.mp3"), media("alpha.png"),
                                  dir + "/notes.txt", missing, media("random.mp4")},
                                 false);
        QCOMPARE(listener.inLibrary(), 5); // missing notes are no media kind, random bytes refused
        QCOMPARE(listener.byPath(capital)->type, uint32_t(Movie));
        QCOMPARE(listener.byPath(media("tone.mp3"))->type, uint32_t(Music));
        QVERIFY(listener.byPath(capital)->draggable);
        QVERIFY(!listener.byPath(missing)->draggable);
        QCOMPARE(listener.unusable, QList<QStringList>({{media("random.mp4")}}));
        QCOMPARE(listener.byPath(capital)->name, QStringLiteral("CLIP.MP4"));
        QCOMPARE(listener.missing, QList<QStringList>({{dir + "/notes.txt", missing}}));
        QVERIFY(listener.existing.isEmpty());
        QCOMPARE(undo()->stack.count(), 1);
        QCOMPARE(undo()->stack.text(0), QStringLiteral("addRes"));

        // The same file again, by another spelling of its path: reported once,
        // not added; like a refused file, no edit to undo.
        library.AddMaterialFiles({dir + "/../add/CLIP.MP4"}, false);
        library.AddMaterialFiles({media("random.mp4")}, false);
        QCOMPARE(listener.existing, QList<QStringList>({{dir + "/../add/CLIP.MP4"}}));
        QCOMPARE(listener.inLibrary(), 5);
        QCOMPARE(undo()->stack.count(), 1);
        // A missing file is made again each time it is added.
        library.AddMaterialFiles({missing}, false);
        QCOMPARE(listener.missing.size(), 2);
        QCOMPARE(listener.inLibrary(), 6);
        // Nothing at all for an empty list.
        const int changes = listener.changes;
        library.AddMaterialFiles({}, false);
        QCOMPARE(listener.changes, changes);
    }

    void undoAndRedoMoveMaterialsInAndOut() {
        Listener listener;
        MaterialManager library(&listener);
        library.AddMaterialFiles({media("h264-30fps.mp4"), media("tone.mp3")}, false);
        library.AddMaterialSubtitle("Title", QFont("Sans", 20), Qt::red, false);
        QCOMPARE(listener.inLibrary(), 3);
        const QString uuid = listener.byPath(media("tone.mp3"))->uuid;

        undo()->stack.undo(); // the template
        QCOMPARE(listener.inLibrary(), 2);
        undo()->stack.undo(); // both files
        QCOMPARE(listener.inLibrary(), 0);
        QCOMPARE(listener.latest.size(), 3); // removed ones stay listed, flagged
        QVERIFY(listener.latest.at(0)->removed);
        undo()->stack.redo();
        QCOMPARE(listener.inLibrary(), 2);
        QCOMPARE(listener.byPath(media("tone.mp3"))->uuid, uuid);

        library.RemoveMaterials({uuid, "{no-such-material}"});
        QCOMPARE(undo()->stack.text(undo()->stack.index() - 1), QStringLiteral("DelRes"));
        QCOMPARE(listener.inLibrary(), 1);
        // Adding the removed file again makes a new material.
        library.AddMaterialFiles({media("tone.mp3")}, false);
        QVERIFY(listener.existing.isEmpty());
        QVERIFY(listener.byPath(media("tone.mp3"))->uuid != uuid);
        // Once more: a duplicate, though the removed material stands first in the list.
        library.AddMaterialFiles({media("tone.mp3")}, false);
        QCOMPARE(listener.existing.size(), 1);
        // Undo the new addition and the removal: the old one is back.
        undo()->stack.undo();
        undo()->stack.undo();
        QCOMPARE(listener.byPath(media("tone.mp3"))->uuid, uuid);
        // Dropping the redo side deletes the materials the history owned.
        library.AddMaterialSubtitle("Other", QFont(), Qt::blue, false);
        QCOMPARE(listener.inLibrary(), 3);
    }

    void previewsComeFromTheWorker() {
        Listener listener;
        MaterialManager library(&listener);
        // Two pictures with one name in two folders keep their own thumbnails.
        const QString dir = korvel::test::workFolder("previews");
        QDir().mkpath(dir + "/red");
        QDir().mkpath(dir + "/blue");
        QImage red(64, 48, QImage::Format_RGB32), blue(64, 48, QImage::Format_RGB32);
        red.fill(Qt::red);
        blue.fill(Qt::blue);
        QVERIFY(red.save(dir + "/red/shot.png"));
        QVERIFY(blue.save(dir + "/blue/shot.png"));
        // A name that leaves no room for more in a file name of 255 bytes.
        const QString longName = dir + "/red/" + QString(120, QChar(0x00e9)) + ".png";
        QVERIFY(red.save(longName));
        library.AddMaterialFiles({dir + "/red/shot.png", dir + "/blue/shot.png", longName, media("h264-30fps.mp4"),
                                  media("tone.mp3")},
                                 false);
        library.AddMaterialFiles({media("random.mp4")}, true); // a project's file that no longer decodes
        library.AddMaterialFiles({dir + "/gone.mp3"}, true);   // one that is missing
        QTRY_VERIFY_WITH_TIMEOUT(std::all_of(listener.latest.begin(), listener.latest.end(),
                                             [](const MaterialData* m) { return !m->preview.isNull(); }),
                                 20000);
        QVERIFY(listener.refreshes > 0);
        QCOMPARE(listener.byPath(media("tone.mp3"))->preview.size(), QImage(":/image/res_music.png").size());
        QCOMPARE(listener.byPath(media("random.mp4"))->preview.size(), QImage(":/image/res_cannotload.png").size());
        QCOMPARE(listener.byPath(dir + "/gone.mp3")->preview, QImage(":/image/res_cannotload.png"));
        QVERIFY(listener.byPath(media("tone.mp3"))->preview != QImage(":/image/res_cannotload.png"));
        const QImage video = listener.byPath(media("h264-30fps.mp4"))->preview;
        QVERIFY(video.width() <= 100 && video.height() <= 80);
        QImage redThumb(mediaThumbnailPath(dir + "/red/shot.png"));
        QImage blueThumb(mediaThumbnailPath(dir + "/blue/shot.png"));
        QVERIFY(!redThumb.isNull() && !blueThumb.isNull());
        QCOMPARE(QColor(QImage(mediaThumbnailPath(longName)).pixel(5, 5)), QColor(Qt::red));
        QCOMPARE(QColor(redThumb.pixel(5, 5)), QColor(Qt::red));
        QCOMPARE(QColor(blueThumb.pixel(5, 5)), QColor(Qt::blue));
    }

    void sectionWritesTheLibraryAndReadsItBack() {
        const QString dir = korvel::test::workFolder("section");
        const QString project = dir + "/project/film.zya2";
        QDir().mkpath(dir + "/project");
        QFile(project).open(QIODevice::WriteOnly);
        const QString clip = copyTo(media("h264-30fps.mp4"), dir + "/media/clip.mp4");
        const QString song = copyTo(media("tone.mp3"), dir + "/media/song.mp3");
        const QString still = copyTo(media("alpha.png"), dir + "/media/still.png");
        QByteArray xml;
        {
            Listener listener;
            MaterialManager library(&listener);
            library.setProjectFileProvider([project] { return project; });
            library.AddMaterialSubtitle("Big", QFont("Sans", 30), QColor("#ff8000"), false);
            library.AddMaterialFiles({clip, song, still, media("h264-30fps.mp4")}, false);
            library.AddMaterialSubtitle("Small", QFont("Sans", 10), QColor("#00ff00"), false);
            library.RemoveMaterials({listener.latest.at(4)->uuid}); // removed ones are not written
            QXmlStreamWriter writer(&xml);
            writer.writeStartElement("Resource");
            MaterialManager::WriteMaterials(writer, listener.latest, false, project);
            writer.writeEndElement();
        }
        QCOMPARE(xml.count("<MaterialData>"), 5);
        QVERIFY(xml.contains("<path>../media/clip.mp4</path>"));
        QVERIFY(xml.contains("<preview>preview</preview>"));
        QVERIFY(xml.contains("<color>#ff8000</color>"));
        QVERIFY(xml.contains("<draggable>true</draggable>"));

        undo()->reset();
        Listener listener;
        MaterialManager library(&listener);
        library.setProjectFileProvider([project] { return project; });
        QXmlStreamReader reader(xml);
        QVERIFY(reader.readNextStartElement());
        library.ReadMaterials(reader);
        // Templates first, then the files in file order; nothing to undo.
        QCOMPARE(undo()->stack.count(), 0);
        QCOMPARE(listener.inLibrary(), 5);
        QCOMPARE(listener.latest.at(0)->name, QStringLiteral("Big"));
        QCOMPARE(listener.latest.at(1)->name, QStringLiteral("Small"));
        QCOMPARE(listener.latest.at(1)->color, QColor("#00ff00"));
        QCOMPARE(listener.latest.at(2)->path, clip);
        QCOMPARE(listener.latest.at(4)->path, still);
        QVERIFY(listener.latest.at(2)->archiveRecoverd);
        QVERIFY(listener.latest.at(2)->draggable);

        // An archive copies the media beside the project.
        QByteArray archived;
        QXmlStreamWriter writer(&archived);
        MaterialManager::WriteMaterials(writer, listener.latest, true, project);
        QVERIFY(QFileInfo::exists(dir + "/project/resource/clip.mp4"));
        QVERIFY(archived.contains("<path>resource/clip.mp4</path>"));
        // Without a project file paths stay absolute.
        QByteArray plain;
        QXmlStreamWriter plainWriter(&plain);
        MaterialManager::WriteMaterials(plainWriter, listener.latest, false, QString());
        QVERIFY(plain.contains(("<path>" + clip + "</path>").toUtf8()));
    }

    void brokenAndOlderSectionsRead() {
        Listener listener;
        MaterialManager library(&listener);
        const QByteArray old =
            "<ObjectMgr><Object><uid>1</uid><type>text</type><name>Old title</name>"
            "<values><color>QColor(#123456</color><font>QFont(Serif</font></values></Object>"
            "<Object><type>movie</type><url>" + media("h264-30fps.mp4").toUtf8() + "</url><other/></Object>"
            "<Unknown/></ObjectMgr>";
        QXmlStreamReader reader(old);
        QVERIFY(reader.readNextStartElement());
        library.ReadOldMaterials(reader);
        QCOMPARE(listener.inLibrary(), 2);
        QCOMPARE(listener.latest.at(0)->color, QColor("#123456"));
        QCOMPARE(listener.latest.at(0)->font.family(), QStringLiteral("Serif"));
        // A section cut off in the middle keeps what came before.
        QXmlStreamReader broken("<Resource><MaterialData><type>2</type><path>" + media("tone.mp3").toUtf8() +
                                "</path></MaterialData><MaterialData><type>x</ty");
        QVERIFY(broken.readNextStartElement());
        library.ReadMaterials(broken);
        QVERIFY(listener.byPath(media("tone.mp3")));
    }

    void clearingDropsQueuedPreviewsFirst() {
        Listener listener;
        MaterialManager library(&listener);
        QStringList files;
        const QString dir = korvel::test::workFolder("many");
        for (int i = 0; i < 20; ++i)
            files << copyTo(media("h264-30fps.mp4"), dir + QStringLiteral("/c%1.mp4").arg(i));
        library.AddMaterialFiles(files, false);
        library.ClearPendingPreviews();
        QCOMPARE(library.pendingPreviews(), 0);
        library.RemoveAllMaterials();
        QCOMPARE(listener.inLibrary(), 0);
        // The project closes: the history goes, and with it the removed materials.
        undo()->reset();
        QCOMPARE(library.copies().size(), 0);
    }

    void destroyedWhileTheWorkerDecodes() {
        for (int round = 0; round < 3; ++round) {
            Listener listener;
            auto library = std::make_unique<MaterialManager>(&listener);
            library->AddMaterialFiles({media("h264-30fps.mp4"), media("faststart.mp4"), media("upright.mp4")},
                                      false);
            QTest::qWait(round * 20);
            library.reset(); // joins the worker; the materials it owned go with it
        }
        // The history outlives the library: dropping it must not reach the dead manager.
        undo()->stack.undo();
        undo()->reset();
    }

    // Files are taken by what they hold, not by their names: WebM, MTS,
    // FLAC and Opus, and the same media under names that say nothing or the
    // wrong thing, each of the kind the probe finds. Random bytes, a text
    // file and a picture whose header claims 16000 x 16000 pixels are
    // refused, each with its reason, quickly and without allocating what
    // the header claims.
    void filesAreTakenByWhatTheyHold() {
        Listener listener;
        MaterialManager library(&listener);
        const QString dir = korvel::test::workFolder("by-content");
        const QString noise = copyTo(media("random.mp4"), dir + "/noise.wav");
        const QString silentFilm = copyTo(media("mpeg4-silent.mp4"), dir + "/film-named-as-sound.mp3");
        const QString webmNoName = copyTo(media("vp9-opus.webm"), dir + "/download");
        const QString stillAsBin = copyTo(media("photo.jpg"), dir + "/scan.bin");
        const QString gifAsDat = copyTo(media("anim.gif"), dir + "/anim.dat");
        const QString notes = dir + "/notes.txt";
        {
            QFile text(notes);
            QVERIFY(text.open(QIODevice::WriteOnly));
            text.write("shopping list\n");
        }
        const QString liar = dir + "/liar.png";
        {
            QFile png(media("alpha.png"));
            QVERIFY(png.open(QIODevice::ReadOnly));
            QByteArray bytes = png.readAll();
            QCOMPARE(bytes.mid(12, 4), QByteArray("IHDR"));
            for (int at : {16, 20}) { // width, height: 16000, big-endian
                bytes[at] = 0;
                bytes[at + 1] = 0;
                bytes[at + 2] = char(16000 >> 8);
                bytes[at + 3] = char(16000 & 0xff);
            }
            const quint32 crc = crc32(bytes.mid(12, 17));
            for (int i = 0; i < 4; ++i)
                bytes[29 + i] = char(crc >> (24 - 8 * i));
            QFile out(liar);
            QVERIFY(out.open(QIODevice::WriteOnly));
            out.write(bytes);
        }
        rusage before {};
        getrusage(RUSAGE_SELF, &before);
        QElapsedTimer timer;
        timer.start();
        library.AddMaterialFiles({noise, silentFilm, liar, media("mono-48k.wav"), media("vp9-opus.webm"),
                                  media("h264.mts"), media("tone.flac"), media("tone.opus"), webmNoName,
                                  stillAsBin, gifAsDat, notes},
                                 false);
        QVERIFY2(timer.elapsed() < 60000, qPrintable(QString::number(timer.elapsed())));
        rusage after {};
        getrusage(RUSAGE_SELF, &after);
        QVERIFY2(after.ru_maxrss - before.ru_maxrss < 400 * 1024, qPrintable(QString::number(after.ru_maxrss)));
        QCOMPARE(listener.unusable, QList<QStringList>({{noise, liar, notes}}));
        QCOMPARE(listener.reasons.value(0).join(", "),
                 QStringLiteral("material_view.NotMedia, material_view.NoStream, material_view.NotMedia"));
        const std::pair<QString, uint32_t> taken[] = {
            {silentFilm, Movie},          {media("mono-48k.wav"), Music}, {media("vp9-opus.webm"), Movie},
            {media("h264.mts"), Movie},   {media("tone.flac"), Music},    {media("tone.opus"), Music},
            {webmNoName, Movie},          {stillAsBin, Image},            {gifAsDat, Movie}};
        QCOMPARE(listener.inLibrary(), int(std::size(taken)));
        for (const auto& [path, type] : taken) {
            const MaterialData* m = listener.byPath(path);
            QVERIFY2(m, qPrintable(path));
            QVERIFY2(m->draggable, qPrintable(path));
            QCOMPARE(m->type, type);
        }
    }

    void aStalledFileDoesNotHoldTheWindow() {
        const QString fifo = korvel::test::workFolder("stall") + "/stalled.mp4";
        QVERIFY(mkfifo(QFile::encodeName(fifo).constData(), 0600) == 0);
        QElapsedTimer timer;
        timer.start();
        const std::vector<bool> opened = resource::probeMediaFiles({fifo, media("h264-30fps.mp4")}, {}, 300);
        QVERIFY(timer.elapsed() < 5000);
        QCOMPARE(opened, std::vector<bool>({false, true}));
        // Let the stuck probe go.
        const int fd = ::open(QFile::encodeName(fifo).constData(), O_WRONLY | O_NONBLOCK);
        if (fd >= 0)
            ::close(fd);
    }
};

KORVEL_GUI_TEST_MAIN(TestMaterialManager)
#include "tst_material_manager.moc"
