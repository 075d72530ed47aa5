// Footer text and its generator.
#include "ReportFooter.h"

#include <QStringList>

float FooterRandom::next()
{
    m_state = quint32((quint64(m_state) * 1140671485u + 12820163u) & 0xFFFFFFu);
    return float(m_state) / float(1 << 24);
}

QString RandomSuffix(float value)
{
    // Written as the platform writes a single: seven significant digits, no trailing zeros;
    // then "." is appended and the text cut at every ".": the second piece is the suffix.
    const QString written = QString::number(double(value), 'g', 7) + QLatin1Char('.');
    return written.split(QLatin1Char('.')).value(1);
}

QString FooterText(const QDateTime& when, const QString& suffix)
{
    return QStringLiteral("Query termutakhir pada: ") +
           when.toString(QStringLiteral("yyyy-MM-dd HH:mm:ss")) + QStringLiteral(" | Cx") + suffix;
}

QString NextReportFooter(const QDateTime& when)
{
    return FooterText(when, RandomSuffix(footerRandom().next()));
}

FooterRandom& footerRandom()
{
    static FooterRandom random;
    return random;
}
