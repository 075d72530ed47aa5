// Choosing faults.
#include "FaultInjector.h"

const QStringList& FaultConfig::allKinds()
{
    static const QStringList kinds = {"drop", "delay", "500", "201", "truncate", "garbage", "half"};
    return kinds;
}

bool FaultConfig::parseKinds(const QString& list, QSet<QString>* kinds, QString* error)
{
    kinds->clear();
    for (const QString& part : list.split(',', Qt::SkipEmptyParts)) {
        const QString kind = part.trimmed().toLower();
        if (!allKinds().contains(kind)) {
            if (error)
                *error = QStringLiteral("unknown fault kind \"%1\" (known: %2)")
                             .arg(kind, allKinds().join(','));
            return false;
        }
        kinds->insert(kind);
    }
    return true;
}

void FaultInjector::configure(const FaultConfig& config)
{
    m_config = config;
    m_random.seed(config.seed);
}

FaultKind FaultInjector::draw(bool requestPoll)
{
    if (!m_config.isActive())
        return FaultKind::None;
    const double roll = m_random.generateDouble();
    // Kinds are taken in a fixed order: a QSet's own order changes from run to run.
    QStringList applicable;
    for (const QString& kind : FaultConfig::allKinds()) {
        if (m_config.kinds.contains(kind) && (kind != "half" || requestPoll))
            applicable.append(kind);
    }
    const quint32 pick = m_random.bounded(quint32(qMax<qsizetype>(applicable.size(), 1)));
    if (roll >= m_config.rate || applicable.isEmpty())
        return FaultKind::None;
    const QString& kind = applicable.at(pick);
    if (kind == "drop")
        return FaultKind::Drop;
    if (kind == "delay")
        return FaultKind::Delay;
    if (kind == "500")
        return FaultKind::Status500;
    if (kind == "201")
        return FaultKind::Status201;
    if (kind == "truncate")
        return FaultKind::Truncate;
    if (kind == "garbage")
        return FaultKind::Garbage;
    return FaultKind::Half;
}

QByteArray FaultInjector::garbage()
{
    QByteArray bytes(16 + int(m_random.bounded(241)), Qt::Uninitialized);
    for (char& byte : bytes)
        byte = char(m_random.bounded(256));
    return bytes;
}

QString FaultInjector::name(FaultKind kind)
{
    switch (kind) {
    case FaultKind::None:
        return {};
    case FaultKind::Drop:
        return "drop";
    case FaultKind::Delay:
        return "delay";
    case FaultKind::Status500:
        return "500";
    case FaultKind::Status201:
        return "201";
    case FaultKind::Truncate:
        return "truncate";
    case FaultKind::Garbage:
        return "garbage";
    case FaultKind::Half:
        return "half";
    }
    return {};
}
