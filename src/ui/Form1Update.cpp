// The main window's side of the self-update. (Being built: until the update check lands,
// CekUpdt only sets the window caption.)
#include "Form1.h"

#include "service/ServiceConfig.h"

void Form1::CekUpdt()
{
    setWindowTitle(QStringLiteral("Q17 Tallyframe - Versi ") + ServiceConfig::versionText());
}

void Form1::TmrAutoUpdt_Timer() {}
