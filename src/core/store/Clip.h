#pragma once

#include "core/util/Instant.h"

#include <QJsonObject>
#include <QJsonValue>
#include <QString>
#include <QUuid>
#include <memory>
#include <optional>

// One remembered piece of copied text. A value: copies are independent, but
// they share the text and what is derived from it (canonical form, hash,
// character count), each computed at most once, so comparing and hashing
// a huge text costs its length once rather than once per comparison.
class Clip {
public:
    Clip();
    Clip(QUuid id, QString text, Instant createdAt, std::optional<QString> sourceApp = {},
         std::optional<Instant> pinnedAt = {});
    // A fresh clip with a new random id.
    static Clip make(QString text, Instant createdAt, std::optional<QString> sourceApp = {});

    QUuid id() const { return m_id; }
    const QString& text() const;
    Instant createdAt() const { return m_createdAt; }
    const std::optional<QString>& sourceApp() const { return m_sourceApp; }
    const std::optional<Instant>& pinnedAt() const { return m_pinnedAt; }

    void setId(QUuid id) { m_id = id; }
    void setCreatedAt(Instant at) { m_createdAt = at; }
    void setSourceApp(std::optional<QString> source) { m_sourceApp = std::move(source); }
    void setPinnedAt(std::optional<Instant> at) { m_pinnedAt = at; }

    // The text trimmed and cut at the first line feed (a CR LF pair does
    // not end the line). A line longer than previewLimit is cut there and
    // ends in "…".
    const QString& preview() const;
    static constexpr qsizetype previewLimit = 1000;
    // Lines of the trimmed text: line feeds between its first and last
    // character, plus one.
    qsizetype lineCount() const;
    // Canonically composed form: texts that differ only in precomposed
    // versus decomposed characters have the same one.
    const QString& canonicalText() const;
    // Lower-case hex SHA-256 of the exact UTF-8 text; keys unpin records.
    const QString& textHash() const;
    // User-perceived characters.
    qsizetype characterCount() const;

    bool hasSameText(const Clip& other) const;

    // All five fields equal (text compared exactly).
    friend bool operator==(const Clip& a, const Clip& b);

    QJsonObject toJson() const;
    // Requires "id" (a UUID string in either case), "text" and "createdAt";
    // "sourceApp" and "pinnedAt" may be missing or null. Returns a reason
    // when the value is not a clip.
    static std::optional<Clip> fromJson(const QJsonValue& value, QString* reason = nullptr);
    // Whether fromJson() would take the value, with its reason when not,
    // without building the clip.
    static bool isValidJson(const QJsonValue& value, QString* reason = nullptr);

private:
    struct Text;

    QUuid m_id;
    std::shared_ptr<const Text> m_text;
    Instant m_createdAt;
    std::optional<QString> m_sourceApp;
    std::optional<Instant> m_pinnedAt;
};
