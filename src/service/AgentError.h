// The agent's failures: a description for the user and, where the failure has one, the number
// that the status texts show.
#pragma once

#include <QByteArray>
#include <QString>

#include <exception>

class AgentError : public std::exception
{
public:
    AgentError(qint32 number, QString description)
        : m_number(number), m_description(std::move(description)), m_what(m_description.toUtf8())
    {}
    qint32 number() const { return m_number; }
    QString description() const { return m_description; }
    const char* what() const noexcept override { return m_what.constData(); }

    // How a failure is shown: "[Err:" on the status line (start-up, the connection-string
    // remedy), "[Error:" in the text box (the poll, the completion flag).
    QString statusText() const { return shown(QLatin1String("[Err:")); }
    QString textBoxText() const { return shown(QLatin1String("[Error:")); }

private:
    QString shown(QLatin1String prefix) const
    {
        return prefix + QString::number(m_number) + QLatin1String("] ") + m_description;
    }

    qint32 m_number;
    QString m_description;
    QByteArray m_what;
};
