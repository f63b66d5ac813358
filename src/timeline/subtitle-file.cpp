#include "timeline/subtitle-file.h"

#include "values/whole-write.h"

#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <QRegularExpression>
#include <QTextCodec>
#include <QStringList>

#include <algorithm>

namespace subtitles {

namespace {

// Hours take at most this many digits: enough for any real file, and the
// arithmetic below cannot overflow.
constexpr int kMaxHourDigits = 6;

bool readNumber(const QString& text, int maxDigits, int64_t* value) {
    if (text.isEmpty() || text.size() > maxDigits)
        return false;
    int64_t v = 0;
    for (const QChar c : text) {
        if (c < QLatin1Char('0') || c > QLatin1Char('9'))
            return false;
        v = v * 10 + (c.unicode() - '0');
    }
    *value = v;
    return true;
}

// "H:MM:SS,mmm" or "H:MM:SS.mmm", and WebVTT's "MM:SS.mmm". Minutes and
// seconds stay below 60; the fraction has one to three digits.
bool parseTime(const QString& text, int64_t* ms) {
    const int sep = std::max(text.lastIndexOf(QLatin1Char(',')), text.lastIndexOf(QLatin1Char('.')));
    if (sep < 0)
        return false;
    const QString fraction = text.mid(sep + 1);
    const QStringList parts = text.left(sep).split(QLatin1Char(':'));
    if (parts.size() < 2 || parts.size() > 3)
        return false;
    int64_t hours = 0, minutes = 0, seconds = 0, millis = 0;
    if (parts.size() == 3 && !readNumber(parts[0], kMaxHourDigits, &hours))
        return false;
    if (!readNumber(parts[parts.size() - 2], 2, &minutes) || !readNumber(parts.last(), 2, &seconds) ||
        !readNumber(fraction, 3, &millis))
        return false;
    if (minutes > 59 || seconds > 59)
        return false;
    for (int i = int(fraction.size()); i < 3; ++i)
        millis *= 10; // "1,5" is half a second
    *ms = ((hours * 60 + minutes) * 60 + seconds) * 1000 + millis;
    return true;
}

bool parseTiming(const QString& line, int64_t* start, int64_t* end) {
    const int arrow = line.indexOf(QLatin1String("-->"));
    if (arrow < 0)
        return false;
    const QString left = line.left(arrow).trimmed();
    // WebVTT puts cue settings after the end time.
    const QStringList right = line.mid(arrow + 3).split(QLatin1Char(' '), Qt::SkipEmptyParts);
    return !right.isEmpty() && parseTime(left, start) && parseTime(right.first().trimmed(), end);
}

bool isBlank(const QString& line) {
    return line.trimmed().isEmpty();
}

bool isIndex(const QString& line) {
    int64_t ignored = 0;
    return readNumber(line.trimmed(), 18, &ignored);
}

// WebVTT text: tags (<i>, <c.name>, <00:00:01.000>) removed, entities decoded.
QString plainVttText(const QString& text) {
    QString out;
    out.reserve(text.size());
    bool inTag = false;
    for (const QChar c : text) {
        if (c == QLatin1Char('<'))
            inTag = true;
        else if (c == QLatin1Char('>') && inTag)
            inTag = false;
        else if (!inTag)
            out.append(c);
    }
    out.replace(QLatin1String("&lt;"), QLatin1String("<"));
    out.replace(QLatin1String("&gt;"), QLatin1String(">"));
    out.replace(QLatin1String("&nbsp;"), QString(QChar(0x00a0)));
    out.replace(QLatin1String("&lrm;"), QString(QChar(0x200e)));
    out.replace(QLatin1String("&rlm;"), QString(QChar(0x200f)));
    out.replace(QLatin1String("&amp;"), QLatin1String("&"));
    return out;
}

// SubRip text: the formatting tags players apply (<i>, <b>, <u>, <s>,
// <font ...>, in any case) and the positioning overrides some editors add
// ({\an8}) removed, since the timeline's subtitles have no such styling;
// any other text, "<" and "&" included, stays as written.
QString plainSrtText(const QString& text) {
    static const QRegularExpression tags(QStringLiteral(R"(</?(?:[ibus]|font(?:\s[^<>\n]*)?)\s*>|\{\\[^{}\n]*\})"),
                                         QRegularExpression::CaseInsensitiveOption);
    QString out = text;
    out.remove(tags);
    return out;
}

// Control characters other than line ends and tabs come only from broken or
// binary files; they would show as boxes.
QString withoutControls(const QString& text) {
    QString out;
    out.reserve(text.size());
    for (const QChar c : text) {
        if (c.unicode() >= 0x20 || c == QLatin1Char('\n') || c == QLatin1Char('\t'))
            out.append(c);
    }
    return out;
}

class Reader {
public:
    explicit Reader(ParseResult* result) : m_result(result) {}

    // One run of non-blank lines. A SubRip file that lost the blank line
    // between two cues shows an index followed by a timing line inside a
    // cue's text: the next cue begins there.
    void block(const QStringList& lines) {
        if (lines.isEmpty())
            return;
        if (m_result->webVtt) {
            const QString first = lines.first();
            if (first.startsWith(QLatin1String("WEBVTT")) || first.startsWith(QLatin1String("NOTE")) ||
                first.startsWith(QLatin1String("STYLE")) || first.startsWith(QLatin1String("REGION")))
                return;
        }
        int at = 0;
        while (at < lines.size()) {
            int timing = -1;
            if (lines[at].contains(QLatin1String("-->")))
                timing = at;
            else if (at + 1 < lines.size() && lines[at + 1].contains(QLatin1String("-->")))
                timing = at + 1; // an index (SubRip) or an identifier (WebVTT) first
            int64_t start = 0, end = 0;
            if (timing < 0 || !parseTiming(lines[timing], &start, &end) || end < start) {
                ++m_result->malformed;
                return;
            }
            int textEnd = timing + 1;
            while (textEnd < lines.size() && !startsCue(lines, textEnd))
                ++textEnd;
            cue(start, end, lines.mid(timing + 1, textEnd - timing - 1));
            at = textEnd;
        }
    }

private:
    // A timing line ends the text before it, as players read it (WebVTT
    // text may not hold one); in SubRip so does an index right before one.
    bool startsCue(const QStringList& lines, int at) {
        if (parseTiming(lines[at], &m_scratchA, &m_scratchB))
            return true;
        return !m_result->webVtt && at + 1 < lines.size() && isIndex(lines[at]) &&
               parseTiming(lines[at + 1], &m_scratchA, &m_scratchB);
    }

    void cue(int64_t start, int64_t end, const QStringList& textLines) {
        QString text = withoutControls(textLines.join(QLatin1Char('\n')));
        text = m_result->webVtt ? plainVttText(text) : plainSrtText(text);
        if (isBlank(text)) {
            ++m_result->malformed;
            return;
        }
        if (m_result->cues.size() >= kMaxCues) {
            ++m_result->overLimit;
            return;
        }
        if (text.size() > kMaxTextChars) {
            text.truncate(kMaxTextChars);
            ++m_result->cutTexts;
        }
        m_result->cues.append(Cue {start, end, text});
    }

    ParseResult* m_result;
    int64_t m_scratchA = 0, m_scratchB = 0;
};

} // namespace

ParseResult parse(const QByteArray& bytes) {
    ParseResult result;
    QString text;
    if (bytes.startsWith("\xFF\xFE") || bytes.startsWith("\xFE\xFF")) {
        // UTF-16 with its mark, as older Windows editors save "Unicode" text.
        const bool little = bytes.startsWith("\xFF\xFE");
        text.reserve(bytes.size() / 2);
        for (int i = 2; i + 1 < bytes.size(); i += 2) {
            const auto lo = uchar(bytes[little ? i : i + 1]), hi = uchar(bytes[little ? i + 1 : i]);
            text.append(QChar(ushort(hi << 8 | lo)));
        }
    } else {
        const int skip = bytes.startsWith("\xEF\xBB\xBF") ? 3 : 0;
        QTextCodec::ConverterState state;
        // With the size: the QByteArray overload stops at the first NUL byte.
        text = QTextCodec::codecForName("UTF-8")->toUnicode(bytes.constData() + skip, bytes.size() - skip, &state);
        // A sequence cut off by the file's end is kept back, not counted.
        const bool broken = state.invalidChars > 0 || state.remainingChars > 0;
        if (broken && skip == 0) {
            // "Café" saved by an older Windows editor: its é is no UTF-8.
            QTextCodec* western = QTextCodec::codecForName("Windows-1252");
            text = western ? western->toUnicode(bytes) : QString::fromLatin1(bytes);
            result.windows1252 = true;
        } else if (state.remainingChars > 0) {
            text += QChar(QChar::ReplacementCharacter);
        }
    }
    text.replace(QLatin1String("\r\n"), QLatin1String("\n"));
    text.replace(QLatin1Char('\r'), QLatin1Char('\n'));
    result.webVtt = text.startsWith(QLatin1String("WEBVTT"));
    Reader reader(&result);
    QStringList block;
    int from = 0;
    while (from <= text.size()) {
        int to = text.indexOf(QLatin1Char('\n'), from);
        if (to < 0)
            to = int(text.size());
        const QString line = text.mid(from, to - from);
        if (isBlank(line)) {
            reader.block(block);
            block.clear();
        } else {
            block.append(line);
        }
        from = to + 1;
    }
    reader.block(block);
    return result;
}

QString formatSrtTime(int64_t ms) {
    ms = std::max<int64_t>(0, ms);
    return QString::asprintf("%02lld:%02lld:%02lld,%03lld", static_cast<long long>(ms / 3600000),
                             static_cast<long long>(ms / 60000 % 60), static_cast<long long>(ms / 1000 % 60),
                             static_cast<long long>(ms % 1000));
}

QByteArray writeSrt(QList<Cue> cues) {
    std::stable_sort(cues.begin(), cues.end(), [](const Cue& a, const Cue& b) {
        return a.startMs != b.startMs ? a.startMs < b.startMs : a.endMs < b.endMs;
    });
    QString out;
    int index = 0;
    for (const Cue& c : cues) {
        QStringList lines;
        for (const QString& line : c.text.split(QLatin1Char('\n'))) {
            QString kept = line;
            kept.remove(QLatin1Char('\r'));
            // SubRip cannot escape a text line that reads as a timing line:
            // it would start a cue of its own, so its arrow is shortened.
            int64_t a = 0, b = 0;
            if (parseTiming(kept, &a, &b))
                kept.replace(QLatin1String("-->"), QLatin1String("->"));
            if (!isBlank(kept))
                lines.append(kept);
        }
        if (lines.isEmpty())
            continue; // a cue without text would read back as broken
        out += QString::number(++index) + QLatin1String("\r\n");
        out += formatSrtTime(c.startMs) + QLatin1String(" --> ") + formatSrtTime(std::max(c.startMs, c.endMs)) +
               QLatin1String("\r\n");
        out += lines.join(QLatin1String("\r\n")) + QLatin1String("\r\n\r\n");
    }
    return out.toUtf8();
}

bool readFile(const QString& path, ParseResult* result, QString* error) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        *error = file.errorString();
        return false;
    }
    if (file.size() > kMaxFileBytes) {
        *error = QStringLiteral("larger than %1 MB").arg(kMaxFileBytes >> 20);
        return false;
    }
    // Read at most the limit, in case the file grows or reports no size.
    const QByteArray bytes = file.read(kMaxFileBytes + 1);
    if (bytes.size() > kMaxFileBytes) {
        *error = QStringLiteral("larger than %1 MB").arg(kMaxFileBytes >> 20);
        return false;
    }
    if (file.error() != QFileDevice::NoError) {
        *error = file.errorString();
        return false;
    }
    *result = parse(bytes);
    return true;
}

bool writeSrtFile(const QString& path, const QList<Cue>& cues, QString* error) {
    QSaveFile file(path);
    // Unbuffered: a full disk fails the write itself rather than going
    // unnoticed in commit()'s flush.
    if (!file.open(QIODevice::WriteOnly | QIODevice::Unbuffered)) {
        *error = file.errorString();
        return false;
    }
    const QByteArray bytes = writeSrt(cues);
    if (!writeWhole(file, bytes)) {
        *error = file.errorString();
        file.cancelWriting();
        return false;
    }
    if (!file.commit()) {
        *error = file.errorString();
        return false;
    }
    return true;
}

int64_t msToFrame(int64_t ms) {
    return (ms * 30 + 500) / 1000;
}

int64_t frameToMs(int64_t frame) {
    return (frame * 1000 + 15) / 30;
}

} // namespace subtitles
