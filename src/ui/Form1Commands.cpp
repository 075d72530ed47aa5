// Menu commands, web links and the account entry points of the main window.
// (Being built: each command lands here.)
#include "Form1.h"

void Form1::mnuDeviceInfo_Click() {}
void Form1::mnuRegistrasi_Click() {}
void Form1::mnuPerbarui_Click() {}
void Form1::mnuUserName_Click() {}
void Form1::mnuAPIKey_Click() {}
void Form1::mnuKlikUntukCopy_Click() {}
void Form1::mnuKoneksi_Click() {}
void Form1::mnuQueriesEditor_Click() {}
void Form1::mnuViewReports_Click() {}
void Form1::mnuOnTheWeb_Click() {}
void Form1::mnuMeetUs_Click() {}
void Form1::mnuTechSupport_Click() {}
void Form1::mnuTtg_Click() {}
void Form1::Label4_Click() {}
void Form1::Label6_Click() {}
void Form1::Label7_Click() {}
void Form1::ImgRegister_Click() {}
