// The report footer: when the query ran, and a short random suffix whose sequence is the same
// after every start of the agent (the service has always seen it that way).
#pragma once

#include <QDateTime>
#include <QString>

// The single-precision generator: a 24-bit linear congruential sequence that starts from the
// same state in every process and gives values in [0, 1).
class FooterRandom
{
public:
    static constexpr quint32 kStart = 327680;
    float next();
    void reset(quint32 state = kStart) { m_state = state & 0xFFFFFF; }
    quint32 state() const { return m_state; }

private:
    quint32 m_state = kStart;
};

// The digits after the point of a value written with at most 7 significant digits, trailing
// zeros dropped (0.7055475 gives 7055475); the empty text when the written form has no point.
QString RandomSuffix(float value);

// "Query termutakhir pada: yyyy-MM-dd HH:mm:ss | Cx" + suffix.
QString FooterText(const QDateTime& when, const QString& suffix);

// The footer for the next report: the time given and the process-wide generator's next value.
QString NextReportFooter(const QDateTime& when);

// The process-wide generator (tests put it back at its start, or any state).
FooterRandom& footerRandom();
