#include "core/store/Clip.h"

#include "core/sync/SyncCrypto.h"
#include "core/util/Graphemes.h"

#include <mutex>

using namespace Qt::StringLiterals;

struct Clip::Text {
    explicit Text(QString value) : text(std::move(value)) {}

    const QString text;
    mutable std::once_flag canonicalOnce;
    mutable QString canonical;
    mutable std::once_flag hashOnce;
    mutable QString hash;
    mutable std::once_flag countOnce;
    mutable qsizetype count = 0;
    mutable std::once_flag previewOnce;
    mutable QString preview;
    mutable std::once_flag linesOnce;
    mutable qsizetype lines = 1;
};

namespace {
const QString kId = u"id"_s;
const QString kText = u"text"_s;
const QString kCreatedAt = u"createdAt"_s;
const QString kSourceApp = u"sourceApp"_s;
const QString kPinnedAt = u"pinnedAt"_s;

std::optional<QUuid> parseUuid(const QString& string) {
    // Only the 36-character hyphenated form, no braces.
    if (string.size() != 36)
        return std::nullopt;
    const QUuid uuid = QUuid::fromString(string);
    if (uuid.isNull() && string != QLatin1String("00000000-0000-0000-0000-000000000000"))
        return std::nullopt;
    return uuid;
}

void fail(QString* reason, const QString& why) {
    if (reason)
        *reason = why;
}
} // namespace

Clip::Clip() : Clip(QUuid(), QString(), Instant{}) {}

Clip::Clip(QUuid id, QString text, Instant createdAt, std::optional<QString> sourceApp,
           std::optional<Instant> pinnedAt)
    : m_id(id), m_text(std::make_shared<const Text>(std::move(text))), m_createdAt(createdAt),
      m_sourceApp(std::move(sourceApp)), m_pinnedAt(pinnedAt) {}

Clip Clip::make(QString text, Instant createdAt, std::optional<QString> sourceApp) {
    return Clip(QUuid::createUuid(), std::move(text), createdAt, std::move(sourceApp));
}

const QString& Clip::text() const {
    return m_text->text;
}

namespace {
// The text without the white space around it, as QString::trimmed() cuts,
// but without copying it.
QStringView trimmedView(const QString& text) {
    QStringView view(text);
    qsizetype first = 0;
    while (first < view.size() && view[first].isSpace())
        ++first;
    qsizetype end = view.size();
    while (end > first && view[end - 1].isSpace())
        --end;
    return view.sliced(first, end - first);
}
} // namespace

const QString& Clip::preview() const {
    std::call_once(m_text->previewOnce, [t = m_text.get()] {
        // Only the start of the line is ever shown, so only the start of the
        // text is read: a row of a huge one-line clip costs what a short one
        // does.
        const QStringView window = trimmedView(t->text).left(previewLimit + 1);
        qsizetype cut = window.size();
        for (qsizetype i = window.indexOf(u'\n'); i != -1; i = window.indexOf(u'\n', i + 1)) {
            if (i == 0 || window.at(i - 1) != u'\r') {
                cut = i;
                break;
            }
        }
        QStringView line = window.left(cut);
        if (line.size() <= previewLimit) {
            t->preview = line.toString();
            return;
        }
        line = line.left(previewLimit);
        if (line.back().isHighSurrogate())
            line.chop(1);
        t->preview = line.toString() + u'\u2026';
    });
    return m_text->preview;
}

qsizetype Clip::lineCount() const {
    std::call_once(m_text->linesOnce,
                   [t = m_text.get()] { t->lines = trimmedView(t->text).count(u'\n') + 1; });
    return m_text->lines;
}

const QString& Clip::canonicalText() const {
    std::call_once(m_text->canonicalOnce, [t = m_text.get()] {
        // normalized() shares the original when it already is composed.
        t->canonical = t->text.normalized(QString::NormalizationForm_C);
    });
    return m_text->canonical;
}

const QString& Clip::textHash() const {
    std::call_once(m_text->hashOnce, [t = m_text.get()] { t->hash = SyncCrypto::hash(t->text); });
    return m_text->hash;
}

qsizetype Clip::characterCount() const {
    std::call_once(m_text->countOnce, [t = m_text.get()] { t->count = Graphemes::count(t->text); });
    return m_text->count;
}

bool Clip::hasSameText(const Clip& other) const {
    if (m_text == other.m_text || text() == other.text())
        return true;
    return canonicalText() == other.canonicalText();
}

bool operator==(const Clip& a, const Clip& b) {
    return a.m_id == b.m_id && a.text() == b.text() && a.m_createdAt == b.m_createdAt &&
           a.m_sourceApp == b.m_sourceApp && a.m_pinnedAt == b.m_pinnedAt;
}

QJsonObject Clip::toJson() const {
    QJsonObject object{
        {kId, m_id.toString(QUuid::WithoutBraces).toUpper()},
        {kText, text()},
        {kCreatedAt, m_createdAt.sinceReference},
    };
    if (m_sourceApp)
        object.insert(kSourceApp, *m_sourceApp);
    if (m_pinnedAt)
        object.insert(kPinnedAt, m_pinnedAt->sinceReference);
    return object;
}

namespace {
// The checks fromJson() makes of a clip's object; its id when it passes.
std::optional<QUuid> checkedId(const QJsonObject& object, QString* reason) {
    const QJsonValue id = object.value(kId);
    const std::optional<QUuid> uuid = id.isString() ? parseUuid(id.toString()) : std::nullopt;
    if (!uuid) {
        fail(reason, u"a clip has no valid \"id\""_s);
        return std::nullopt;
    }
    if (!object.value(kText).isString()) {
        fail(reason, u"a clip has no \"text\""_s);
        return std::nullopt;
    }
    if (!object.value(kCreatedAt).isDouble()) {
        fail(reason, u"a clip has no \"createdAt\""_s);
        return std::nullopt;
    }
    const QJsonValue source = object.value(kSourceApp);
    if (!source.isString() && !source.isNull() && !source.isUndefined()) {
        fail(reason, u"a clip has a \"sourceApp\" that is not a string"_s);
        return std::nullopt;
    }
    const QJsonValue pinned = object.value(kPinnedAt);
    if (!pinned.isDouble() && !pinned.isNull() && !pinned.isUndefined()) {
        fail(reason, u"a clip has a \"pinnedAt\" that is not a number"_s);
        return std::nullopt;
    }
    return uuid;
}
} // namespace

std::optional<Clip> Clip::fromJson(const QJsonValue& value, QString* reason) {
    if (!value.isObject()) {
        fail(reason, u"a clip is not an object"_s);
        return std::nullopt;
    }
    const QJsonObject object = value.toObject();
    const std::optional<QUuid> uuid = checkedId(object, reason);
    if (!uuid)
        return std::nullopt;
    std::optional<QString> sourceApp;
    if (const QJsonValue source = object.value(kSourceApp); source.isString())
        sourceApp = source.toString();
    std::optional<Instant> pinnedAt;
    if (const QJsonValue pinned = object.value(kPinnedAt); pinned.isDouble())
        pinnedAt = Instant::fromReference(pinned.toDouble());
    return Clip(*uuid, object.value(kText).toString(),
                Instant::fromReference(object.value(kCreatedAt).toDouble()), std::move(sourceApp),
                pinnedAt);
}

bool Clip::isValidJson(const QJsonValue& value, QString* reason) {
    if (!value.isObject()) {
        fail(reason, u"a clip is not an object"_s);
        return false;
    }
    return checkedId(value.toObject(), reason).has_value();
}
