// The account profile held in memory for the life of the process. Nothing of it is stored on
// the machine: it is fetched from the service at every start and after every change.
#pragma once

#include "pipeline/OdbcConnection.h"

#include <QString>

#include <memory>

struct ProfileState
{
    QString CompanyName;
    QString ApiKey;
    QString Telp;
    QString ConnectionString;
    qint16 AppHide = 0;
    std::unique_ptr<OdbcConnection> DbConnection;

    static ProfileState& instance();
};
