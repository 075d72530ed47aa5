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

private:
    qint32 m_number;
    QString m_description;
    QByteArray m_what;
};
