// Fuzzes the reading of the account endpoints' answer: any answer is trimmed and searched
// without a crash, and an envelope written from arbitrary fields gives each field back.
#include "FuzzText.h"

#include "service/ServiceClient.h"

#include <QStringList>

namespace {

const QString kCut = QStringLiteral("\",");

void checkAnyAnswer(const QString& answer, const QString& name)
{
    const QString trimmed = TrimEnvelopeEnd(answer);
    if (answer.endsWith(QLatin1String("\"}")))
        FUZZ_CHECK(trimmed == answer.chopped(2), fuzz::show(answer));
    else
        FUZZ_CHECK(trimmed == answer, fuzz::show(answer));

    const std::optional<QString> value = EnvelopeField(trimmed, name);
    if (!value)
        return;
    // A found value is a piece of the answer and stops before the first `",` after the marker.
    FUZZ_CHECK(!value->contains(kCut), fuzz::show(trimmed) + " " + fuzz::show(*value));
    FUZZ_CHECK(trimmed.contains(*value), fuzz::show(trimmed) + " " + fuzz::show(*value));
    const QString marker = QLatin1Char('"') + name + QStringLiteral("\":\"");
    FUZZ_CHECK(trimmed.contains(marker + *value, Qt::CaseInsensitive),
               fuzz::show(trimmed) + " " + fuzz::show(*value));
}

// Fields "name=value" separated by U+001E become {"name":"value",...}; every field whose marker
// first occurs where it was written, and whose value has no `",`, must read back unchanged.
void checkWrittenEnvelope(const QString& text)
{
    QList<QPair<QString, QString>> written;
    for (const QString& field : fuzz::fields(text, QChar(0x1E))) {
        const qsizetype eq = field.indexOf(QLatin1Char('='));
        if (eq < 0)
            continue;
        written.append({field.left(eq), field.mid(eq + 1)});
    }
    if (written.isEmpty())
        return;

    QString envelope = QStringLiteral("{");
    QList<qsizetype> positions;
    for (qsizetype i = 0; i < written.size(); ++i) {
        if (i > 0)
            envelope += QLatin1Char(',');
        positions.append(envelope.size());
        envelope += QLatin1Char('"') + written[i].first + QStringLiteral("\":\"") +
                    written[i].second + QLatin1Char('"');
    }
    envelope += QLatin1Char('}');

    const QString trimmed = TrimEnvelopeEnd(envelope);
    FUZZ_CHECK(trimmed.size() == envelope.size() - 2, fuzz::show(envelope));
    for (qsizetype i = 0; i < written.size(); ++i) {
        const auto& [name, value] = written[i];
        const QString marker = QLatin1Char('"') + name + QStringLiteral("\":\"");
        if (envelope.indexOf(marker, 0, Qt::CaseInsensitive) != positions[i] ||
            value.contains(kCut))
            continue;
        // A value ending in `"` followed by the next field's `,` also ends at that `",`.
        if (i + 1 < written.size() && value.endsWith(QLatin1Char('"')))
            continue;
        const std::optional<QString> read = EnvelopeField(trimmed, name);
        FUZZ_CHECK(read.has_value(), fuzz::show(envelope) + " field " + fuzz::show(name));
        FUZZ_CHECK(*read == value, fuzz::show(envelope) + " field " + fuzz::show(name) + " -> " +
                                       fuzz::show(*read));
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const QString text = fuzz::decodeLoose(data, size);
    // The first line names the field to look for in the rest, taken as a raw answer.
    const qsizetype newline = text.indexOf(QLatin1Char('\n'));
    const QString name = newline < 0 ? QStringLiteral("message") : text.left(newline);
    const QString answer = newline < 0 ? text : text.mid(newline + 1);
    checkAnyAnswer(answer, name);
    for (const char* known : {"status", "message", "api_key", "telp", "companyName"})
        checkAnyAnswer(answer, QLatin1String(known));
    checkWrittenEnvelope(text);
    return 0;
}
