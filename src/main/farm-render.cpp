#include "farm-render.h"

#include "command-line-export.h"
#include "project-file.h"
#include "render/export/export-function.h"
#include "render/export/export-thread.h"
#include "render/render-manager.h"
#include "termination-watcher.h"
#include "timeline/frame-dispatcher.h"
#include "undo/undo-controller.h"
#include "values/whole-write.h"
#include "zyapp.h"

#include <QCoreApplication>
#include <QCryptographicHash>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QLockFile>
#include <QProcess>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QThread>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <memory>
#include <signal.h>
#include <vector>

namespace {

void say(const QString& line) {
    std::fprintf(stderr, "%s\n", qUtf8Printable(line));
    std::fflush(stderr);
}

// A word for the shell: single-quoted, with its own quotes closed and escaped.
QString quoted(const QString& text) {
    QString q = text;
    q.replace(QLatin1Char('\''), QLatin1String("'\\''"));
    return QLatin1Char('\'') + q + QLatin1Char('\'');
}

QString segmentName(int i) {
    return QStringLiteral("segment-%1").arg(i, 3, 10, QLatin1Char('0'));
}

bool writeText(const QString& path, const QString& text, bool executable, QString* error) {
    QFile f(path);
    if (!f.open(QIODevice::WriteOnly | QIODevice::Truncate | QIODevice::Unbuffered) || !writeWhole(f, text.toUtf8())) {
        *error = QStringLiteral("%1 could not be written: %2").arg(path, f.errorString());
        return false;
    }
    if (executable)
        f.setPermissions(f.permissions() | QFileDevice::ExeOwner | QFileDevice::ExeGroup | QFileDevice::ExeOther);
    return true;
}

QByteArray tailOf(const QString& path, int lines) {
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly))
        return QByteArray("(no log at ") + path.toUtf8() + ")";
    const QList<QByteArray> all = f.readAll().split('\n');
    QByteArray out;
    for (int i = std::max(0, int(all.size()) - lines); i < all.size(); ++i) {
        // The export's progress rewrites one line with carriage returns: keep its last state.
        const QByteArray line = all.at(i).split('\r').last();
        if (!line.isEmpty())
            out += "  | " + line + '\n';
    }
    return out;
}

// The job's exit status from its .status file; -1 while there is none.
int jobStatus(const QString& work, const QString& name) {
    QFile f(work + QLatin1Char('/') + name + QStringLiteral(".status"));
    if (!f.open(QIODevice::ReadOnly))
        return -1;
    bool ok = false;
    const int status = f.readAll().trimmed().toInt(&ok);
    return ok ? status : -1;
}

// The scripts every engine runs. A job writes its log and then its status,
// and stops the export it started when it is stopped itself.
struct FarmPlan {
    QString work;
    QVector<int64_t> bounds;
    QStringList jobs; // names: segment-000..., sound, join

    int segments() const { return bounds.size() - 1; }
};

QString jobPrologue(const FarmCommand& c, const QString& name) {
    return QStringLiteral("#!/bin/bash\n"
                          "# Korvel farm render of %1\n"
                          "set -u\n"
                          "work=%2\n"
                          "name=%3\n"
                          "exec >\"$work/$name.log\" 2>&1\n"
                          "rm -f \"$work/$name.status\"\n"
                          "echo \"$name on $(hostname), $(date -u +%FT%TZ)\"\n"
                          "started=$(date +%s.%N)\n"
                          "took() { echo \"$(date +%s.%N) $started\" | awk '{ printf \"%.2f s\", $1 - $2 }'; }\n"
                          "run() {\n"
                          "  \"$@\" &\n"
                          "  local pid=$!\n"
                          "  trap 'kill -TERM $pid 2>/dev/null' TERM INT HUP\n"
                          "  wait $pid\n"
                          "  local status=$?\n"
                          "  # a signal ended the first wait; the export ends on its own now\n"
                          "  while kill -0 $pid 2>/dev/null; do wait $pid; status=$?; done\n"
                          "  return $status\n"
                          "}\n")
        .arg(QString(c.output).replace(QLatin1Char('\n'), QLatin1Char(' ')).replace(QLatin1Char('\r'), QLatin1Char(' ')),
             quoted(c.work), name);
}

QString exportOptions(const FarmCommand& c, int keyInterval) {
    QString o = QStringLiteral(" --fps %1 --keyint %2").arg(c.fps).arg(keyInterval);
    if (!c.size.isEmpty())
        o += QStringLiteral(" --size ") + c.size;
    if (c.bitrate > 0)
        o += QStringLiteral(" --bitrate %1").arg(c.bitrate);
    return o;
}

bool writePlan(const FarmCommand& c, const FarmPlan& plan, int keyInterval, QString* error) {
    const QString korvel = quoted(QCoreApplication::applicationFilePath());
    const QString project = quoted(QFileInfo(c.project).absoluteFilePath());
    QString froms, tos;
    for (int i = 0; i < plan.segments(); ++i) {
        froms += QStringLiteral(" %1").arg(plan.bounds.at(i));
        tos += QStringLiteral(" %1").arg(plan.bounds.at(i + 1));
    }
    // One part: its number as the first argument, or a Slurm array task's.
    const QString segment =
        QStringLiteral("#!/bin/bash\n"
                       "i=${1:-${SLURM_ARRAY_TASK_ID:?the segment number, or a Slurm array task}}\n"
                       "froms=(%1)\n"
                       "tos=(%2)\n"
                       "exec bash %3/segment-job.sh \"$i\" \"${froms[$i]}\" \"${tos[$i]}\"\n")
            .arg(froms.trimmed(), tos.trimmed(), quoted(plan.work));
    const QString segmentJob = jobPrologue(c, QStringLiteral("$(printf 'segment-%03d' \"$1\")")) +
                               QStringLiteral("echo \"frames [$2, $3)\"\n"
                                              "rm -f \"$work/$name.mp4\"\n"
                                              "run %1 --export %2 \"$work/$name.mp4\" --from \"$2\" --to \"$3\" "
                                              "--video-only%3\n"
                                              "status=$?\n"
                                              "echo \"$name: exit status $status after $(took)\"\n"
                                              "echo $status >\"$work/$name.status\"\n"
                                              "exit $status\n")
                                   .arg(korvel, project, exportOptions(c, keyInterval));
    const QString sound = jobPrologue(c, QStringLiteral("sound")) +
                          QStringLiteral("rm -f \"$work/sound.wav\"\n"
                                         "run %1 --export %2 \"$work/sound.wav\" --fps %3\n"
                                         "status=$?\n"
                                         "echo \"sound: exit status $status after $(took)\"\n"
                                         "echo $status >\"$work/sound.status\"\n"
                                         "exit $status\n")
                              .arg(korvel, project, QString::number(c.fps));
    // The join: every part must hold its frames, else the file would play
    // with a jump where one was cut short.
    QString checks;
    QString list;
    for (int i = 0; i < plan.segments(); ++i) {
        const int64_t frames = plan.bounds.at(i + 1) - plan.bounds.at(i);
        checks += QStringLiteral("check %1 %2\n").arg(segmentName(i)).arg(frames);
        // Each part's exact length: the container's own is rounded up to the
        // millisecond, and with many short parts the pictures drifted late.
        list += QStringLiteral("file '%1.mp4'\nduration %2\n")
                    .arg(segmentName(i), QString::number(double(frames) / c.fps, 'f', 9));
    }
    // A link as the output is written through, as the export does.
    const QFileInfo out(writtenPath(c.output));
    // Named after this render's work folder: two renders to one output each
    // join into a file of their own, and the last one whole stands.
    const QString run = QString::fromLatin1(
        QCryptographicHash::hash(plan.work.toUtf8(), QCryptographicHash::Sha1).toHex().left(12));
    const QString partial = out.absolutePath() + QStringLiteral("/.") + out.completeBaseName() +
                            QStringLiteral(".farm-partial-") + run + QLatin1Char('.') + out.suffix();
    QString title = QStringLiteral("Korvel"), comment = QStringLiteral("Korvel");
    for (const QString& field : QString::fromLatin1(exportfn::kMetadata).split(QLatin1Char(';'))) {
        if (field.startsWith(QLatin1String("title:")))
            title = field.mid(6);
        else if (field.startsWith(QLatin1String("comment:")))
            comment = field.mid(8);
    }
    const QString join =
        jobPrologue(c, QStringLiteral("join")) +
        QStringLiteral("out=%1\n"
                       "partial=%2\n"
                       "fail() {\n"
                       "  echo \"join: $*\"\n"
                       "  rm -f \"$partial\"\n"
                       "  echo 1 >\"$work/join.status\"\n"
                       "  exit 1\n"
                       "}\n"
                       "check() {\n"
                       "  [ \"$(cat \"$work/$1.status\" 2>/dev/null)\" = 0 ] || fail \"$1 did not end well\"\n"
                       "  local n\n"
                       "  n=$(ffprobe -v error -select_streams v:0 -count_packets -show_entries stream=nb_read_packets "
                       "-of csv=p=0 \"$work/$1.mp4\")\n"
                       "  [ \"$n\" = \"$2\" ] || fail \"$1.mp4 holds ${n:-no} frames, not $2\"\n"
                       "}\n"
                       "%3"
                       "[ \"$(cat \"$work/sound.status\" 2>/dev/null)\" = 0 ] || fail \"the sound did not end well\"\n"
                       "rm -f \"$partial\"\n"
                       "run ffmpeg -nostdin -hide_banner -v error -y -f concat -safe 0 -i \"$work/segments.txt\" "
                       "-i \"$work/sound.wav\" -map 0:v:0 -map 1:a:0 -c:v copy -c:a aac -b:a 128k "
                       "-map_metadata -1 -metadata title=%4 -metadata comment=%5 "
                       "-movflags +faststart -f mp4 \"$partial\" || fail \"ffmpeg could not join the segments\"\n"
                       "[ -e \"$out\" ] && chmod --reference=\"$out\" \"$partial\" 2>/dev/null\n"
                       "mv -f \"$partial\" \"$out\" || fail \"$partial could not be renamed to $out\"\n"
                       "echo \"join: wrote $out after $(took)\"\n"
                       "echo 0 >\"$work/join.status\"\n")
            .arg(quoted(out.absoluteFilePath()), quoted(partial), checks, quoted(title), quoted(comment));
    return writeText(plan.work + QStringLiteral("/segments.txt"), list, false, error) &&
           writeText(plan.work + QStringLiteral("/segment.sh"), segment, true, error) &&
           writeText(plan.work + QStringLiteral("/segment-job.sh"), segmentJob, true, error) &&
           writeText(plan.work + QStringLiteral("/sound.sh"), sound, true, error) &&
           writeText(plan.work + QStringLiteral("/join.sh"), join, true, error);
}

void reportFailure(const FarmPlan& plan, const QString& name, int status, const QString& extraLog = QString()) {
    say(status >= 0 ? QStringLiteral("farm: %1 failed (exit status %2); its log, %3/%1.log, ends:")
                          .arg(name)
                          .arg(status)
                          .arg(plan.work)
                    : QStringLiteral("farm: %1 ended without a status; its log, %2/%1.log, ends:").arg(name, plan.work));
    std::fputs(tailOf(plan.work + QLatin1Char('/') + name + QStringLiteral(".log"), 20).constData(), stderr);
    if (!extraLog.isEmpty() && QFile::exists(extraLog)) {
        say(QStringLiteral("farm: Slurm's output for it, %1:").arg(extraLog));
        std::fputs(tailOf(extraLog, 10).constData(), stderr);
    }
}

// --- the local engine: the same scripts as processes, a few at a time ---

struct LocalJob {
    QString name;
    QStringList arguments; // for bash
    std::unique_ptr<QProcess> process;
    bool ended = false;
};

// A job in a session of its own, so that stopping the job stops all it
// started; its shell is told to stop (and stops its export) when this
// process dies, even by SIGKILL, so no job renders on for nobody.
void startLocalJob(QProcess& process, const QStringList& script) {
    process.start(QStringLiteral("setsid"),
                  QStringList {QStringLiteral("setpriv"), QStringLiteral("--pdeathsig"), QStringLiteral("TERM"),
                               QStringLiteral("bash")} +
                      script);
}

void stopGroup(QProcess* p) {
    if (p && p->state() != QProcess::NotRunning && p->processId() > 0)
        ::kill(-pid_t(p->processId()), SIGTERM);
}

int runLocal(const FarmPlan& plan, const int* signalled) {
    std::vector<LocalJob> jobs;
    for (int i = 0; i < plan.segments(); ++i)
        jobs.push_back({segmentName(i), {plan.work + QStringLiteral("/segment.sh"), QString::number(i)}, nullptr});
    jobs.push_back({QStringLiteral("sound"), {plan.work + QStringLiteral("/sound.sh")}, nullptr});
    // Each job is a whole export with its own GL context and decoders: a
    // few at a time, however many cores there are.
    const int atOnce = std::clamp(QThread::idealThreadCount(), 1, 4);
    say(QStringLiteral("farm: %1 jobs on this machine, %2 at a time").arg(jobs.size()).arg(atOnce));
    size_t next = 0;
    int running = 0, done = 0;
    auto stopAll = [&jobs]() {
        for (LocalJob& j : jobs)
            stopGroup(j.process.get());
        for (LocalJob& j : jobs) {
            if (!j.process || j.process->state() == QProcess::NotRunning)
                continue;
            const qint64 group = j.process->processId();
            if (!j.process->waitForFinished(30000) && group > 0) {
                ::kill(-pid_t(group), SIGKILL);
                j.process->waitForFinished(5000);
            }
        }
    };
    while (done < int(jobs.size())) {
        while (running < atOnce && next < jobs.size()) {
            LocalJob& j = jobs[next++];
            j.process = std::make_unique<QProcess>();
            j.process->setProcessChannelMode(QProcess::ForwardedChannels);
            startLocalJob(*j.process, j.arguments);
            if (!j.process->waitForStarted(30000)) {
                say(QStringLiteral("farm: %1 could not start: %2").arg(j.name, j.process->errorString()));
                stopAll();
                return 1;
            }
            ++running;
        }
        QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
        if (*signalled) {
            stopAll();
            say(QStringLiteral("farm: stopped by signal %1; nothing was written").arg(*signalled));
            return 128 + *signalled;
        }
        for (LocalJob& j : jobs) {
            // A job may end while another is waited for: its state says so.
            if (!j.process || j.ended)
                continue;
            if (j.process->state() != QProcess::NotRunning && !j.process->waitForFinished(20))
                continue;
            j.ended = true;
            --running;
            ++done;
            const int status = j.process->exitStatus() == QProcess::NormalExit ? j.process->exitCode() : -1;
            if (status != 0) {
                stopAll();
                reportFailure(plan, j.name, jobStatus(plan.work, j.name) >= 0 ? status : -1);
                say(QStringLiteral("farm: the render failed; nothing was written"));
                return 1;
            }
            say(QStringLiteral("farm: %1 done (%2 of %3)").arg(j.name).arg(done).arg(jobs.size()));
        }
    }
    QElapsedTimer joinTime;
    joinTime.start();
    QProcess join;
    startLocalJob(join, {plan.work + QStringLiteral("/join.sh")});
    if (!join.waitForStarted(30000)) {
        say(QStringLiteral("farm: the join could not start: %1").arg(join.errorString()));
        return 1;
    }
    // A join that ends inside processEvents() is NotRunning afterwards, and
    // waitForFinished() then says false for ever: the state decides.
    while (join.state() != QProcess::NotRunning && !join.waitForFinished(50)) {
        QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
        if (*signalled) {
            stopGroup(&join);
            join.waitForFinished(30000);
            say(QStringLiteral("farm: stopped by signal %1; nothing was written").arg(*signalled));
            return 128 + *signalled;
        }
    }
    if (join.exitStatus() != QProcess::NormalExit || join.exitCode() != 0) {
        reportFailure(plan, QStringLiteral("join"), join.exitCode());
        return 1;
    }
    say(QStringLiteral("farm: joined in %1 s").arg(double(joinTime.elapsed()) / 1000.0, 0, 'f', 2));
    return 0;
}

// --- the Slurm engine ---

bool runTool(const QString& program, const QStringList& arguments, QByteArray* out, QString* error) {
    QProcess p;
    p.start(program, arguments);
    if (!p.waitForStarted(30000) || !p.waitForFinished(120000)) {
        *error = QStringLiteral("%1 did not run: %2").arg(program, p.errorString());
        p.kill();
        p.waitForFinished(5000);
        return false;
    }
    *out = p.readAllStandardOutput();
    if (p.exitStatus() != QProcess::NormalExit || p.exitCode() != 0) {
        *error = QStringLiteral("%1 %2 failed: %3")
                     .arg(program, arguments.join(QLatin1Char(' ')),
                          QString::fromLocal8Bit(p.readAllStandardError()).trimmed());
        return false;
    }
    return true;
}

QString submit(const FarmCommand& c, const FarmPlan& plan, QStringList options, const QString& script,
               QString* error) {
    if (!c.partition.isEmpty())
        options << QStringLiteral("--partition=") + c.partition;
    options << QStringLiteral("--parsable") << QStringLiteral("--chdir=") + plan.work
            << QStringLiteral("--export=ALL") << plan.work + QLatin1Char('/') + script;
    QByteArray out;
    if (!runTool(QStringLiteral("sbatch"), options, &out, error))
        return QString();
    // "id" or "id;cluster"
    const QString id = QString::fromLatin1(out).trimmed().section(QLatin1Char(';'), 0, 0);
    if (!QRegularExpression(QStringLiteral("^\\d+$")).match(id).hasMatch()) {
        *error = QStringLiteral("sbatch answered \"%1\", not a job id").arg(QString::fromLatin1(out).trimmed());
        return QString();
    }
    return id;
}

// The queued render's jobs, named in its work folder so that a render
// started there later can see whether they still run.
QString queuedJobsFile(const QString& work) { return work + QStringLiteral("/.korvel-farm.jobs"); }

// The jobs of an earlier render in this work folder that the queue still
// holds (their ids); none when it ended, or no queue answers here.
QStringList jobsStillQueued(const QString& work) {
    QFile file(queuedJobsFile(work));
    if (!file.open(QIODevice::ReadOnly))
        return {};
    const QStringList ids = QString::fromLatin1(file.readAll()).split(QLatin1Char(' '), Qt::SkipEmptyParts);
    if (ids.isEmpty() || jobStatus(work, QStringLiteral("join")) >= 0 ||
        QStandardPaths::findExecutable(QStringLiteral("squeue")).isEmpty())
        return {};
    // One at a time: an id the queue has forgotten makes squeue fail.
    QStringList running;
    for (const QString& id : ids) {
        QByteArray out;
        QString error;
        if (runTool(QStringLiteral("squeue"),
                    {QStringLiteral("-h"), QStringLiteral("-o"), QStringLiteral("%i"), QStringLiteral("-j"), id}, &out,
                    &error) &&
            !out.trimmed().isEmpty())
            running << id;
    }
    return running;
}

int runSlurm(const FarmCommand& c, const FarmPlan& plan, const int* signalled) {
    QString error;
    const int n = plan.segments();
    const QString slurmOut = plan.work + QStringLiteral("/slurm-%x-%A_%a.out");
    const QString segments =
        submit(c, plan,
               {QStringLiteral("--job-name=korvel-segment"), QStringLiteral("--array=0-%1").arg(n - 1),
                QStringLiteral("--requeue"), QStringLiteral("--output=") + slurmOut},
               QStringLiteral("segment.sh"), &error);
    const QString sound =
        segments.isEmpty()
            ? QString()
            : submit(c, plan,
                     {QStringLiteral("--job-name=korvel-sound"), QStringLiteral("--requeue"),
                      QStringLiteral("--output=") + plan.work + QStringLiteral("/slurm-%x-%j.out")},
                     QStringLiteral("sound.sh"), &error);
    const QString join =
        sound.isEmpty()
            ? QString()
            : submit(c, plan,
                     {QStringLiteral("--job-name=korvel-join"), QStringLiteral("--requeue"),
                      QStringLiteral("--dependency=afterok:%1:%2").arg(segments, sound),
                      QStringLiteral("--kill-on-invalid-dep=yes"),
                      QStringLiteral("--output=") + plan.work + QStringLiteral("/slurm-%x-%j.out")},
                     QStringLiteral("join.sh"), &error);
    const QStringList ids = QStringList {segments, sound, join}.filter(QRegularExpression(QStringLiteral(".")));
    if (join.isEmpty()) {
        say(QStringLiteral("farm: %1").arg(error));
        if (!ids.isEmpty()) {
            QByteArray ignored;
            runTool(QStringLiteral("scancel"), ids, &ignored, &error);
        }
        return 1;
    }
    {
        QFile jobs(queuedJobsFile(plan.work));
        if (!jobs.open(QIODevice::WriteOnly) || jobs.write(ids.join(QLatin1Char(' ')).toLatin1()) < 0)
            say(QStringLiteral("farm: the job ids could not be kept in %1; a render started there before they end "
                               "is not stopped")
                    .arg(jobs.fileName()));
    }
    std::printf("segments %s\nsound %s\njoin %s\n", qPrintable(segments), qPrintable(sound), qPrintable(join));
    std::fflush(stdout);
    say(QStringLiteral("farm: submitted: segments as job array %1 (%2 tasks), the sound as job %3, the join as "
                       "job %4; %5 appears when the join ends (its log: %6/join.log)")
            .arg(segments)
            .arg(n)
            .arg(sound, join, c.output, plan.work));
    if (!c.wait)
        return 0;
    // Waiting: the jobs' status files tell how each ended; the queue tells
    // whether any still runs (no accounting database needed).
    QStringList names;
    for (int i = 0; i < n; ++i)
        names << segmentName(i);
    names << QStringLiteral("sound");
    auto cancel = [&ids]() {
        QByteArray ignored;
        QString e;
        runTool(QStringLiteral("scancel"), ids, &ignored, &e);
    };
    QElapsedTimer queueSilent;
    int emptyPolls = 0;
    for (;;) {
        for (int k = 0; k < 10; ++k) {
            QThread::msleep(100);
            QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
            if (*signalled) {
                cancel();
                say(QStringLiteral("farm: stopped by signal %1; the jobs are cancelled and nothing was written")
                        .arg(*signalled));
                return 128 + *signalled;
            }
        }
        const int joined = jobStatus(plan.work, QStringLiteral("join"));
        if (joined == 0)
            return 0;
        if (joined > 0) {
            reportFailure(plan, QStringLiteral("join"), joined);
            return 1;
        }
        for (const QString& name : names) {
            const int status = jobStatus(plan.work, name);
            if (status > 0) {
                cancel();
                const QString log = name == QLatin1String("sound")
                                        ? plan.work + QStringLiteral("/slurm-korvel-sound-%1.out").arg(sound)
                                        : plan.work + QStringLiteral("/slurm-korvel-segment-%1_%2.out")
                                                          .arg(segments)
                                                          .arg(name.mid(8).toInt());
                reportFailure(plan, name, status, log);
                say(QStringLiteral("farm: the render failed; the other jobs are cancelled and nothing was written"));
                return 1;
            }
        }
        QByteArray queue;
        if (!runTool(QStringLiteral("squeue"), {QStringLiteral("-h"), QStringLiteral("-o"), QStringLiteral("%i %T"),
                                                QStringLiteral("-j"), ids.join(QLatin1Char(','))},
                     &queue, &error)) {
            // A controller that does not answer for long is given up on.
            if (!queueSilent.isValid())
                queueSilent.start();
            if (queueSilent.elapsed() > 300000) {
                say(QStringLiteral("farm: Slurm has not answered for 5 minutes (%1); the jobs may still run").arg(error));
                return 1;
            }
            continue;
        }
        queueSilent.invalidate();
        // Jobs gone from the queue, and a second look to be sure the status files are there.
        if (!queue.trimmed().isEmpty()) {
            emptyPolls = 0;
            continue;
        }
        if (++emptyPolls < 3)
            continue;
        for (const QString& name : names) {
            if (jobStatus(plan.work, name) != 0) {
                reportFailure(plan, name, jobStatus(plan.work, name));
                break;
            }
        }
        say(QStringLiteral("farm: the jobs left the queue and the join never ended; nothing was written "
                           "(Slurm's output is in %1)")
                .arg(plan.work));
        return 1;
    }
}

bool openForCounting(const FarmCommand& c, int64_t* frames, int* status) {
    ZyApp* app = ZyApp::instance();
    if (!app->initializeHeadless()) {
        say(QStringLiteral("farm: no OpenGL 3.3 device could be made (see the README's notes on exports)"));
        *status = 3;
        return false;
    }
    if (!QFileInfo(c.project).isFile() || !app->openProject(c.project)) {
        say(QStringLiteral("farm: %1 could not be opened as a project").arg(c.project));
        *status = 2;
        return false;
    }
    const QStringList missing = app->projectSections() ? app->projectSections()->missingMedia() : QStringList();
    zya::UndoController::instance()->setClean();
    if (!missing.isEmpty()) {
        say(QStringLiteral("farm: %1 media files of the project are missing:").arg(missing.size()));
        for (const QString& path : missing)
            say(QStringLiteral("  %1").arg(path));
        *status = 2;
        return false;
    }
    if (app->projectSections() && project::readsFile(*app->projectSections(), c.project, c.output)) {
        say(QStringLiteral("farm: %1 is read by the project; choose another output").arg(c.output));
        *status = 2;
        return false;
    }
    auto* timeline = dynamic_cast<FrameDispatcher*>(app->renderManager()->exportManager()->source());
    *frames = timeline ? exportfn::outputFrameCount(timeline->totalFrames(), c.fps) : 0;
    return true;
}

} // namespace

QString farmUsage() {
    return QStringLiteral(
        "usage: korvel --farm PROJECT OUTPUT.mp4 --segments N --engine local|slurm [--work DIR] [--partition P] "
        "[--wait] [--fps N] [--size WxH] [--bitrate KBITS] [--keyint N]\n"
        "  splits the export into N parts written as separate jobs, then joins them into OUTPUT\n"
        "  --engine local: the jobs run on this machine, a few at a time; slurm: they are submitted with sbatch\n"
        "  --work DIR: the jobs' scripts, logs and parts (default: OUTPUT's name + \".farm\" beside it)\n"
        "  --wait: with slurm, wait for the join and exit with its result\n"
        "  --keyint N: a key frame every N frames (default: one a second); the parts start on them\n"
        "  the project, its media, DIR and OUTPUT's folder must be seen at the same paths on every node");
}

bool parseFarmCommand(const QStringList& arguments, FarmCommand* command, QString* error) {
    QStringList rest;
    bool segmentsGiven = false;
    for (int i = 0; i < arguments.size(); ++i) {
        const QString& a = arguments.at(i);
        if (!a.startsWith(QLatin1String("--"))) {
            rest << a;
            continue;
        }
        if (a == QLatin1String("--wait")) {
            command->wait = true;
            continue;
        }
        if (a == QLatin1String("--srt") || a == QLatin1String("--video-only") || a == QLatin1String("--audio-only") ||
            a == QLatin1String("--progress") || a == QLatin1String("--from") || a == QLatin1String("--to") ||
            a == QLatin1String("--speed")) {
            *error = QStringLiteral("%1 is not for --farm, which renders the whole timeline with its sound; "
                                    "korvel --export takes it")
                         .arg(a);
            return false;
        }
        if (i + 1 >= arguments.size()) {
            *error = QStringLiteral("%1 needs a value").arg(a);
            return false;
        }
        const QString value = arguments.at(++i);
        bool ok = true;
        if (a == QLatin1String("--segments")) {
            command->segments = value.toInt(&ok);
            segmentsGiven = true;
            if (ok && command->segments < 1) {
                *error = QStringLiteral("--segments %1: a render needs at least one segment").arg(value);
                return false;
            }
        } else if (a == QLatin1String("--engine")) {
            command->engine = value;
            ok = value == QLatin1String("local") || value == QLatin1String("slurm");
            if (!ok) {
                *error = QStringLiteral("--engine %1 is not known: use local or slurm").arg(value);
                return false;
            }
        } else if (a == QLatin1String("--work")) {
            command->work = QDir::cleanPath(QFileInfo(value).absoluteFilePath());
            ok = !value.isEmpty();
            // The render's jobs and parts go straight into the folder: not
            // into the root of the file system.
            if (ok && QDir(command->work).isRoot()) {
                *error = QStringLiteral("--work %1 is the root folder; give the render a folder of its own").arg(value);
                return false;
            }
        } else if (a == QLatin1String("--partition")) {
            command->partition = value;
            ok = QRegularExpression(QStringLiteral("^[A-Za-z0-9_.,-]+$")).match(value).hasMatch();
        } else if (a == QLatin1String("--fps")) {
            command->fps = value.toInt(&ok);
            ok = ok && command->fps >= exportfn::kMinFrameRate && command->fps <= exportfn::kMaxFrameRate;
        } else if (a == QLatin1String("--size")) {
            command->size = value;
            int width = 0, height = 0;
            ok = parseExportSize(value, &width, &height); // each part's export takes it as it stands
        } else if (a == QLatin1String("--bitrate")) {
            command->bitrate = value.toInt(&ok);
            ok = ok && command->bitrate >= 0 && command->bitrate <= 1000000;
        } else if (a == QLatin1String("--keyint")) {
            command->keyInterval = value.toInt(&ok);
            ok = ok && command->keyInterval >= 1 && command->keyInterval <= 100000;
        } else {
            *error = QStringLiteral("unknown option %1\n%2").arg(a, farmUsage());
            return false;
        }
        if (!ok) {
            const QString range = exportOptionRange(a);
            *error = range.isEmpty() ? QStringLiteral("%1 %2 is not usable").arg(a, value)
                                     : QStringLiteral("%1 %2 is not usable: %3").arg(a, value, range);
            return false;
        }
    }
    if (rest.size() != 2 || !segmentsGiven || command->engine.isEmpty()) {
        *error = rest.size() != 2        ? farmUsage()
                 : !segmentsGiven        ? QStringLiteral("--farm needs --segments N\n") + farmUsage()
                                         : QStringLiteral("--farm needs --engine local or --engine slurm\n") + farmUsage();
        return false;
    }
    if (QFileInfo(rest.at(1)).suffix().toLower() != QLatin1String("mp4")) {
        *error = QStringLiteral("cannot farm-render to \"%1\": the output must be an .mp4").arg(rest.at(1));
        return false;
    }
    if (command->engine == QLatin1String("local") && !command->partition.isEmpty()) {
        *error = QStringLiteral("--partition is for --engine slurm");
        return false;
    }
    command->project = QFileInfo(rest.at(0)).absoluteFilePath();
    command->output = QFileInfo(rest.at(1)).absoluteFilePath();
    if (command->work.isEmpty())
        command->work = command->output + QStringLiteral(".farm");
    return true;
}

QVector<int64_t> farmBounds(int64_t frames, int segments, int keyInterval) {
    QVector<int64_t> bounds;
    if (segments < 1 || frames < segments || keyInterval < 1)
        return bounds;
    const bool onKeys = frames / segments >= keyInterval;
    bounds << 0;
    for (int i = 1; i < segments; ++i) {
        const double even = double(frames) * i / segments;
        bounds << (onKeys ? int64_t(std::llround(even / keyInterval)) * keyInterval : int64_t(even));
    }
    bounds << frames;
    return bounds;
}

int runFarmCommand(const FarmCommand& command) {
    // The tools the engine needs, before anything is opened.
    const QStringList tools = command.engine == QLatin1String("slurm")
                                  ? QStringList {QStringLiteral("sbatch"), QStringLiteral("squeue"),
                                                 QStringLiteral("scancel")}
                                  : QStringList {QStringLiteral("ffmpeg"), QStringLiteral("ffprobe"),
                                                 QStringLiteral("setsid"), QStringLiteral("setpriv"),
                                                 QStringLiteral("bash")};
    for (const QString& tool : tools) {
        if (QStandardPaths::findExecutable(tool).isEmpty()) {
            say(command.engine == QLatin1String("slurm")
                    ? QStringLiteral("farm: %1 is not installed here: --engine slurm needs Slurm's client commands "
                                     "(Debian: slurm-client)")
                          .arg(tool)
                    : QStringLiteral("farm: %1 is not installed here: --engine local needs it").arg(tool));
            return 2;
        }
    }
    int status = 0;
    int64_t frames = 0;
    if (!openForCounting(command, &frames, &status))
        return status;
    const int keyInterval = command.keyInterval > 0 ? command.keyInterval : command.fps;
    FarmPlan plan;
    plan.work = command.work;
    plan.bounds = farmBounds(frames, command.segments, keyInterval);
    if (plan.bounds.isEmpty()) {
        say(QStringLiteral("farm: %1 segments cannot be made of %2 frames").arg(command.segments).arg(frames));
        return 2;
    }
    if (!QFileInfo(QFileInfo(command.output).absolutePath()).isDir()) {
        say(QStringLiteral("farm: the output's folder %1 does not exist").arg(QFileInfo(command.output).absolutePath()));
        return 2;
    }
    if (QFileInfo(command.output).isDir()) {
        say(QStringLiteral("farm: the output %1 is a folder").arg(command.output));
        return 2;
    }
    // A folder the user keeps other files in is used only when none of them
    // bears a name the render writes; the render marks the folders it uses
    // as its own (the default one is by its name), and reuses those.
    const QString mark = plan.work + QStringLiteral("/.korvel-farm");
    const bool defaultWork = plan.work == command.output + QStringLiteral(".farm");
    if (!defaultWork && !QFileInfo::exists(mark)) {
        const QStringList own = QDir(plan.work).entryList(
            {QStringLiteral("segment*"), QStringLiteral("sound.*"), QStringLiteral("join.*"),
             QStringLiteral("slurm-korvel-*.out")},
            QDir::AllEntries | QDir::NoDotAndDotDot);
        if (!own.isEmpty()) {
            say(QStringLiteral("farm: the work folder %1 holds files the render would replace (%2); choose another "
                               "--work folder")
                    .arg(plan.work, own.join(QStringLiteral(", "))));
            return 2;
        }
    }
    if (!QDir().mkpath(plan.work)) {
        say(QStringLiteral("farm: the work folder %1 could not be made").arg(plan.work));
        return 2;
    }
    if (!QFileInfo::exists(mark)) {
        QFile marker(mark);
        if (!marker.open(QIODevice::WriteOnly)) {
            say(QStringLiteral("farm: the work folder %1 cannot be written: %2").arg(plan.work, marker.errorString()));
            return 2;
        }
    }
    // Two renders in one work folder write over each other's jobs: the
    // second waits for no one and is refused. The lock is held while this
    // process runs (a dead holder's lock is taken over).
    QLockFile busy(plan.work + QStringLiteral("/.korvel-farm.lock"));
    busy.setStaleLockTime(0);
    if (!busy.tryLock(0)) {
        qint64 holder = 0;
        QString host, name;
        busy.getLockInfo(&holder, &host, &name);
        say(QStringLiteral("farm: another render (process %1) is using the work folder %2; wait for it or choose "
                           "another --work folder")
                .arg(holder)
                .arg(plan.work));
        return 2;
    }
    // A render queued on Slurm without --wait holds no lock: its jobs do.
    const QStringList queued = jobsStillQueued(plan.work);
    if (!queued.isEmpty()) {
        say(QStringLiteral("farm: jobs of an earlier render (%1) still use the work folder %2; wait for them, cancel "
                           "them (scancel) or choose another --work folder")
                .arg(queued.join(QStringLiteral(", ")), plan.work));
        return 2;
    }
    QFile::remove(queuedJobsFile(plan.work));
    // What an earlier render left must not pass for this one's. Only the
    // names a render writes: the work folder may be one the user keeps
    // other files in.
    QStringList stale = QDir(plan.work).entryList({QStringLiteral("slurm-korvel-*.out")}, QDir::Files);
    QStringList jobNames {QStringLiteral("sound"), QStringLiteral("join")};
    for (int i = 0; i < plan.segments(); ++i)
        jobNames << segmentName(i);
    for (const QString& job : jobNames)
        stale << job + QStringLiteral(".status") << job + QStringLiteral(".log");
    for (const QString& name : stale)
        QFile::remove(plan.work + QLatin1Char('/') + name);
    QString error;
    if (!writePlan(command, plan, keyInterval, &error)) {
        say(QStringLiteral("farm: %1").arg(error));
        return 2;
    }
    QString ranges;
    for (int i = 0; i < plan.segments(); ++i)
        ranges += QStringLiteral(" [%1, %2)").arg(plan.bounds.at(i)).arg(plan.bounds.at(i + 1));
    say(QStringLiteral("farm: %1 frames in %2 segments:%3; key frames every %4 frames; jobs in %5")
            .arg(frames)
            .arg(plan.segments())
            .arg(ranges)
            .arg(keyInterval)
            .arg(plan.work));
    int signalled = 0;
    ZyApp* app = ZyApp::instance();
    const QMetaObject::Connection onSignal = QObject::connect(
        app->terminationWatcher(), &TerminationWatcher::terminationRequested, app, [&signalled](int sig) { signalled = sig; });
    status = command.engine == QLatin1String("slurm") ? runSlurm(command, plan, &signalled)
                                                       : runLocal(plan, &signalled);
    QObject::disconnect(onSignal);
    if (status == 0 && (command.engine == QLatin1String("local") || command.wait))
        say(QStringLiteral("farm: wrote %1").arg(command.output));
    return status;
}
