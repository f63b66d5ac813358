#include "reference-render.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QProcessEnvironment>
#include <QRegularExpression>
#include <QTemporaryDir>

#include <cmath>
#include <cstring>

namespace korvel::test {

namespace {

bool run(const QString& program, const QStringList& arguments, QByteArray* out, QByteArray* err,
         int timeoutMs = 280000) {
    QProcess p;
    p.start(program, arguments);
    if (!p.waitForStarted(30000))
        return false;
    p.closeWriteChannel();
    QByteArray o, e;
    // Read as it comes: a large raw output would fill the pipe.
    while (!p.waitForFinished(100)) {
        o += p.readAllStandardOutput();
        e += p.readAllStandardError();
        if (p.state() == QProcess::NotRunning)
            break;
        if ((timeoutMs -= 100) <= 0) {
            p.kill();
            p.waitForFinished();
            return false;
        }
    }
    o += p.readAllStandardOutput();
    e += p.readAllStandardError();
    if (out)
        *out = o;
    if (err)
        *err = e;
    return p.exitStatus() == QProcess::NormalExit && p.exitCode() == 0;
}

} // namespace

bool runFfmpeg(const QStringList& arguments, QString* error) {
    QByteArray err;
    const bool ok = run(QStringLiteral("ffmpeg"),
                        QStringList {"-nostdin", "-hide_banner", "-loglevel", "error", "-y"} + arguments, nullptr,
                        &err);
    if (!ok && error)
        *error = QString::fromUtf8(err.right(2000));
    return ok;
}

int runProgram(const QString& program, const QStringList& arguments, QByteArray* said, int timeoutMs,
               const QStringList& unset) {
    QProcess korvel;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("ASAN_OPTIONS", env.value("ASAN_OPTIONS") + ":detect_leaks=0");
    for (const QString& name : unset)
        env.remove(name);
    korvel.setProcessEnvironment(env);
    korvel.start(program, arguments);
    if (!korvel.waitForStarted(30000))
        return -1;
    const bool ended = korvel.waitForFinished(timeoutMs);
    if (said)
        *said = korvel.readAllStandardError();
    if (!ended) {
        korvel.kill();
        korvel.waitForFinished();
        return -1;
    }
    return korvel.exitStatus() == QProcess::NormalExit ? korvel.exitCode() : -1;
}

QVector<double> psnrY(const QString& ours, const QString& reference, const QString& matrix, QString* error,
                      const QRect& mask) {
    QTemporaryDir dir;
    const QString stats = dir.path() + "/psnr.txt";
    QVector<double> values;
    const QString blank = mask.isValid() ? QStringLiteral(",drawbox=x=%1:y=%2:w=%3:h=%4:color=black:t=fill")
                                               .arg(mask.x())
                                               .arg(mask.y())
                                               .arg(mask.width())
                                               .arg(mask.height())
                                         : QString();
    // Frame by frame, whatever either file's clock: a reference with
    // millisecond timestamps would otherwise pair one frame twice. Colons
    // and backslashes in the path would be read as filter syntax; the
    // temporary folder has neither.
    const QString graph = QStringLiteral("[0:v]setpts=N/30/TB%3[ours];[1:v]setpts=N/30/TB,scale=out_color_matrix=%1:"
                                         "out_range=tv:flags=accurate_rnd,format=yuv420p%3[ref];"
                                         "[ours][ref]psnr=stats_file=%2")
                              .arg(matrix, stats, blank);
    if (!runFfmpeg({"-i", ours, "-i", reference, "-lavfi", graph, "-f", "null", "-"}, error))
        return values;
    QFile f(stats);
    if (!f.open(QIODevice::ReadOnly))
        return values;
    static const QRegularExpression y(QStringLiteral("psnr_y:(\\S+)"));
    for (const QByteArray& line : f.readAll().split('\n')) {
        const QRegularExpressionMatch m = y.match(QString::fromLatin1(line));
        if (!m.hasMatch())
            continue;
        const QString v = m.captured(1);
        values << (v == QLatin1String("inf") ? 100.0 : v.toDouble());
    }
    return values;
}

QVector<double> frameTimes(const QString& file) {
    QByteArray out;
    QVector<double> times;
    if (!run(QStringLiteral("ffprobe"),
             {"-v", "error", "-select_streams", "v:0", "-show_entries", "frame=pts_time", "-of", "csv=p=0", file},
             &out, nullptr))
        return times;
    for (const QByteArray& line : out.split('\n')) {
        bool ok = false;
        const double t = line.split(',').first().trimmed().toDouble(&ok);
        if (ok)
            times << t;
    }
    return times;
}

QString colourTags(const QString& file) {
    QByteArray out;
    run(QStringLiteral("ffprobe"),
        {"-v", "error", "-select_streams", "v:0", "-show_entries",
         "stream=color_space,color_range,color_primaries,color_transfer", "-of", "default=nw=1", file},
        &out, nullptr);
    QMap<QString, QString> tags;
    for (const QByteArray& line : out.split('\n')) {
        const int eq = line.indexOf('=');
        if (eq > 0)
            tags[QString::fromLatin1(line.left(eq))] = QString::fromLatin1(line.mid(eq + 1).trimmed());
    }
    return QStringList {tags.value("color_space"), tags.value("color_range"), tags.value("color_primaries"),
                        tags.value("color_transfer")}
        .join(',');
}

QImage decodeFrame(const QString& file, int index) {
    QTemporaryDir dir;
    const QString png = dir.path() + "/frame.png";
    if (!runFfmpeg({"-i", file, "-vf",
                    QStringLiteral("select=eq(n\\,%1),scale=flags=accurate_rnd+full_chroma_int,format=rgb24").arg(index),
                    "-frames:v", "1", "-fps_mode", "passthrough", png}))
        return QImage();
    return QImage(png).convertToFormat(QImage::Format_RGB888);
}

QVector<float> decodeSound(const QString& file) {
    QByteArray out;
    QVector<float> samples;
    if (!run(QStringLiteral("ffmpeg"),
             {"-nostdin", "-v", "error", "-i", file, "-vn", "-ac", "1", "-ar", "8000", "-f", "f32le", "-"}, &out,
             nullptr))
        return samples;
    samples.resize(out.size() / int(sizeof(float)));
    std::memcpy(samples.data(), out.constData(), size_t(samples.size()) * sizeof(float));
    return samples;
}

double soundLevel(const QVector<float>& samples, double from, double to) {
    const int a = std::max(0, int(from * 8000)), b = std::min(samples.size(), int(to * 8000));
    if (b <= a)
        return 0.0;
    double sum = 0.0;
    for (int i = a; i < b; ++i)
        sum += double(samples[i]) * samples[i];
    return std::sqrt(sum / (b - a));
}

double psnrRgb(const QImage& a, const QImage& b, const QRect& mask) {
    if (a.isNull() || a.size() != b.size())
        return 0.0;
    const QImage x = a.convertToFormat(QImage::Format_RGB888), y = b.convertToFormat(QImage::Format_RGB888);
    double sum = 0.0;
    int64_t count = 0;
    for (int row = 0; row < x.height(); ++row) {
        const uchar* p = x.constScanLine(row);
        const uchar* q = y.constScanLine(row);
        for (int column = 0; column < x.width(); ++column) {
            if (mask.contains(column, row))
                continue;
            for (int c = column * 3; c < column * 3 + 3; ++c) {
                const double d = double(p[c]) - double(q[c]);
                sum += d * d;
            }
            count += 3;
        }
    }
    const double mse = count > 0 ? sum / double(count) : 0.0;
    return mse <= 1e-10 ? 100.0 : 10.0 * std::log10(255.0 * 255.0 / mse);
}

} // namespace korvel::test
