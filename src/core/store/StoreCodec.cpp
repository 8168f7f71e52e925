#include "core/store/StoreCodec.h"

#include "core/util/Utf8.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QJsonParseError>
#include <QLocale>
#include <QStringList>
#include <algorithm>
#include <cmath>
#if defined(__SSE2__)
#include <emmintrin.h>
#endif

using namespace Qt::StringLiterals;

namespace {
const QString kHistory = u"history"_s;
const QString kPinned = u"pinned"_s;
const QString kUnpinned = u"unpinned"_s;

// The store is written on every lull after a change, so the encoder is a
// direct writer: building a QJsonDocument first costs several times more.
// Its output is what QJsonDocument::Indented would write, keys sorted.
class Writer {
public:
    explicit Writer(qsizetype expectedSize) { m_out.reserve(expectedSize); }
    QByteArray take() { return std::move(m_out); }

    void raw(const char* text) { m_out.append(text); }
    void newline(int depth) {
        m_out.append('\n');
        m_out.append(depth * 4, ' ');
    }

    void string(const QString& text) {
        m_out.append('"');
        qsizetype run = 0;
        for (qsizetype i = 0; i < text.size(); ++i) {
            const char16_t unit = text.at(i).unicode();
            // Most texts have neither: one cheap test per unit.
            if (unit != 0xFEFF && !QChar::isSurrogate(unit))
                continue;
            if (QChar::isHighSurrogate(unit) && i + 1 < text.size() &&
                QChar::isLowSurrogate(text.at(i + 1).unicode())) {
                ++i; // a pair: UTF-8 holds it
                continue;
            }
            // A leading U+FEFF would be taken for a byte-order mark by some
            // readers, and a lone surrogate has no UTF-8 form at all (it
            // would become "?"): escaped, both read back as they were.
            utf8Run(QStringView(text).sliced(run, i - run));
            m_out.append(QByteArray("\\u") + QByteArray::number(unit, 16).rightJustified(4, '0'));
            run = i + 1;
        }
        utf8Run(QStringView(text).sliced(run));
        m_out.append('"');
    }

    // In slices, so that a huge text costs no second copy of itself; a
    // slice never ends between the two halves of a surrogate pair.
    void utf8Run(QStringView text) {
        constexpr qsizetype kSlice = 64 * 1024;
        for (qsizetype at = 0; at < text.size();) {
            qsizetype size = std::min(kSlice, text.size() - at);
            if (at + size < text.size() && QChar::isHighSurrogate(text.at(at + size - 1).unicode()))
                --size;
            escaped(text.sliced(at, size).toUtf8());
            at += size;
        }
    }

    void escaped(const QByteArray& utf8) {
        const char* run = utf8.constData();
        const char* const end = run + utf8.size();
        const char* p = run;
        while (p != end) {
            p = plainEnd(p, end);
            if (p == end)
                break;
            m_out.append(run, p - run);
            escape(static_cast<unsigned char>(*p));
            run = ++p;
        }
        m_out.append(run, end - run);
    }

    // The first byte from p on that JSON needs escaped, or end. Texts are
    // mostly plain, and a store full of large ones is written at quit.
    static const char* plainEnd(const char* p, const char* const end) {
#if defined(__SSE2__)
        const __m128i controlMax = _mm_set1_epi8(0x1F);
        const __m128i quote = _mm_set1_epi8('"');
        const __m128i backslash = _mm_set1_epi8('\\');
        for (; end - p >= 16; p += 16) {
            const __m128i bytes = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
            const __m128i special = _mm_or_si128(
                _mm_cmpeq_epi8(_mm_min_epu8(bytes, controlMax), bytes),
                _mm_or_si128(_mm_cmpeq_epi8(bytes, quote), _mm_cmpeq_epi8(bytes, backslash)));
            if (_mm_movemask_epi8(special) != 0)
                break;
        }
#endif
        for (; p != end; ++p) {
            const auto c = static_cast<unsigned char>(*p);
            if (c < 0x20 || c == '"' || c == '\\')
                return p;
        }
        return end;
    }

    void number(double value) {
        if (!std::isfinite(value)) {
            m_out.append("null");
        } else if (value == std::floor(value) && std::abs(value) < 9007199254740992.0) {
            m_out.append(QByteArray::number(static_cast<qint64>(value)));
        } else {
            m_out.append(QByteArray::number(value, 'g', QLocale::FloatingPointShortest));
        }
    }

    void member(const char* key, int depth, bool first) {
        if (!first)
            m_out.append(',');
        newline(depth);
        m_out.append('"');
        m_out.append(key);
        m_out.append("\": ");
    }

private:
    void escape(unsigned char c) {
        switch (c) {
        case '"':
            m_out.append("\\\"");
            return;
        case '\\':
            m_out.append("\\\\");
            return;
        case '\b':
            m_out.append("\\b");
            return;
        case '\f':
            m_out.append("\\f");
            return;
        case '\n':
            m_out.append("\\n");
            return;
        case '\r':
            m_out.append("\\r");
            return;
        case '\t':
            m_out.append("\\t");
            return;
        default: {
            static const char hex[] = "0123456789abcdef";
            const char unicode[] = {'\\', 'u', '0', '0', hex[c >> 4], hex[c & 0xF], 0};
            m_out.append(unicode);
        }
        }
    }

    QByteArray m_out;
};

void writeClip(Writer& w, const Clip& clip, int depth) {
    w.raw("{");
    w.member("createdAt", depth + 1, true);
    w.number(clip.createdAt().sinceReference);
    w.member("id", depth + 1, false);
    w.string(clip.id().toString(QUuid::WithoutBraces).toUpper());
    if (clip.pinnedAt()) {
        w.member("pinnedAt", depth + 1, false);
        w.number(clip.pinnedAt()->sinceReference);
    }
    if (clip.sourceApp()) {
        w.member("sourceApp", depth + 1, false);
        w.string(*clip.sourceApp());
    }
    w.member("text", depth + 1, false);
    w.string(clip.text());
    w.newline(depth);
    w.raw("}");
}

void writeClips(Writer& w, const QList<Clip>& clips, int depth) {
    if (clips.isEmpty()) {
        w.raw("[]");
        return;
    }
    w.raw("[");
    for (qsizetype i = 0; i < clips.size(); ++i) {
        if (i > 0)
            w.raw(",");
        w.newline(depth + 1);
        writeClip(w, clips.at(i), depth + 1);
    }
    w.newline(depth);
    w.raw("]");
}

void writeUnpinned(Writer& w, const QHash<QString, Instant>& unpinned, int depth) {
    if (unpinned.isEmpty()) {
        w.raw("{}");
        return;
    }
    QStringList keys = unpinned.keys();
    std::sort(keys.begin(), keys.end());
    w.raw("{");
    for (qsizetype i = 0; i < keys.size(); ++i) {
        if (i > 0)
            w.raw(",");
        w.newline(depth + 1);
        w.string(keys.at(i));
        w.raw(": ");
        w.number(unpinned.value(keys.at(i)).unix());
    }
    w.newline(depth);
    w.raw("}");
}

// With `kept`, only the first `kept` clips with a text are built.
std::expected<QList<Clip>, QString> clipsFrom(const QJsonObject& root, const QString& key,
                                              std::optional<qsizetype> kept = std::nullopt) {
    const QJsonValue value = root.value(key);
    if (!value.isArray())
        return std::unexpected(u"no \"%1\" list"_s.arg(key));
    const QJsonArray array = value.toArray();
    QList<Clip> clips;
    clips.reserve(kept ? std::min(array.size(), std::max<qsizetype>(*kept, 0)) : array.size());
    for (const QJsonValue& element : array) {
        QString reason;
        if (kept && clips.size() >= *kept) {
            // A damaged clip damages the file wherever it lies.
            if (!Clip::isValidJson(element, &reason))
                return std::unexpected(u"in \"%1\": %2"_s.arg(key, reason));
            continue;
        }
        std::optional<Clip> clip = Clip::fromJson(element, &reason);
        if (!clip)
            return std::unexpected(u"in \"%1\": %2"_s.arg(key, reason));
        if (kept && clip->text().isEmpty())
            continue;
        clips.append(std::move(*clip));
    }
    return clips;
}
} // namespace

QByteArray StoreCodec::encode(const StoreContents& contents) {
    qsizetype expected = 64 + contents.unpinned.size() * 96;
    for (const QList<Clip>* clips : {&contents.history, &contents.pinned})
        for (const Clip& clip : *clips)
            expected += clip.text().size() + 192;
    Writer w(expected);
    w.raw("{");
    w.member("history", 1, true);
    writeClips(w, contents.history, 1);
    w.member("pinned", 1, false);
    writeClips(w, contents.pinned, 1);
    w.member("unpinned", 1, false);
    writeUnpinned(w, contents.unpinned, 1);
    w.newline(0);
    w.raw("}");
    w.newline(0);
    return w.take();
}

std::expected<StoreContents, QString> StoreCodec::decode(const QByteArray& bytes, Unpinned unpinned,
                                                         std::optional<qsizetype> keptHistory) {
    QJsonParseError error;
    const QJsonDocument document = Utf8::parseJson(bytes, &error);
    if (error.error != QJsonParseError::NoError)
        return std::unexpected(
            u"not JSON (%1 at byte %2)"_s.arg(error.errorString()).arg(error.offset));
    if (!document.isObject())
        return std::unexpected(u"not a JSON object"_s);
    const QJsonObject root = document.object();

    StoreContents contents;
    auto history = clipsFrom(root, kHistory, keptHistory);
    if (!history)
        return std::unexpected(history.error());
    auto pinned = clipsFrom(root, kPinned);
    if (!pinned)
        return std::unexpected(pinned.error());
    contents.history = std::move(*history);
    contents.pinned = std::move(*pinned);

    const QJsonValue records = root.value(kUnpinned);
    if (unpinned == Unpinned::Read && !records.isUndefined() && !records.isNull()) {
        if (!records.isObject())
            return std::unexpected(u"\"unpinned\" is not an object"_s);
        const QJsonObject map = records.toObject();
        contents.unpinned.reserve(map.size());
        for (auto it = map.begin(); it != map.end(); ++it) {
            if (!it.value().isDouble())
                return std::unexpected(u"an \"unpinned\" stamp is not a number"_s);
            contents.unpinned.insert(it.key(), Instant::fromUnix(it.value().toDouble()));
        }
    }
    return contents;
}
